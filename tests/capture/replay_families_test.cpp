// quorvel-replay over capture files of both families, held against a table
// of the rows expected and against a count written apart from the monitor
// (support/flow_count.h), which the live tests lean on as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/flow_count.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/link_frames.h"
#include "support/pcap_writer.h"
#include "support/program_run.h"
#include "support/test_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Extension = Ip6Packet::Extension;

// What a later fragment carries where a first one has its ports: payload,
// which must never be taken for ports.
constexpr std::uint16_t kPayloadWord1 = 0xDEAD, kPayloadWord2 = 0xBEEF;

IpPacket V4Packet(std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t destinationPort,
                  std::uint16_t length) {
  IpPacket packet;
  packet.protocol = protocol;
  packet.sourcePort = sourcePort;
  packet.destinationPort = destinationPort;
  packet.totalLength = length;
  return packet;
}

Bytes V4(std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint16_t length,
         std::uint8_t headerWords = 5) {
  IpPacket packet = V4Packet(protocol, sourcePort, destinationPort, length);
  packet.headerWords = headerWords;
  return packet.Bytes();
}

// A fragment at `offset` (8-byte units); a later one carries payload bytes
// where the first carries the ports.
Bytes V4Fragment(std::uint8_t protocol, std::uint16_t id, std::uint16_t offset, bool more, std::uint16_t length,
                 std::uint16_t sourcePort = kPayloadWord1, std::uint16_t destinationPort = kPayloadWord2) {
  IpPacket packet = V4Packet(protocol, sourcePort, destinationPort, length);
  packet.id = id;
  packet.fragmentOffset = offset;
  packet.moreFragments = more;
  return packet.Bytes();
}

Bytes V6(std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t destinationPort, std::size_t payload,
         std::vector<Extension> extensions = {}) {
  Ip6Packet packet;
  packet.protocol = protocol;
  packet.sourcePort = sourcePort;
  packet.destinationPort = destinationPort;
  packet.payloadLength = payload;
  packet.extensions = std::move(extensions);
  return packet.Bytes();
}

Bytes V6Fragment(std::uint8_t protocol, std::uint32_t id, std::uint16_t offset, bool more, std::size_t payload,
                 std::uint16_t sourcePort = kPayloadWord1, std::uint16_t destinationPort = kPayloadWord2) {
  return V6(protocol, sourcePort, destinationPort, payload, {{44, 8, offset, more, id}});
}

Bytes Ethernet(const Bytes& packet) { return LinkFrame(DLT_EN10MB, packet, packet[0] >> 4 == 6 ? 0x86DD : 0x0800); }

class ReplayFamiliesTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<Bytes>& packets) {
    const std::string path = (m_folder.Path() / "families.pcap").string();
    PcapWriter writer(path, DLT_EN10MB);
    EXPECT_TRUE(writer.IsOpen());
    for (const Bytes& packet : packets) writer.Write(packet[0] >> 4 >= 4 ? Ethernet(packet) : packet);
    return path;
  }
  static ProgramRun Replay(const std::string& path) { return RunProgram(QUORVEL_REPLAY, {path}); }
  static std::string Counted(const std::string& path) {
    FlowCount count;
    std::string error;
    EXPECT_TRUE(count.ReadFile(path, error)) << error;
    return count.Csv();
  }

  TestFolder m_folder;
};

// Each family's protocols, IPv4 options, IPv6 extension headers, and
// fragments in order, reordered and with their first coming last.
TEST_F(ReplayFamiliesTest, EveryPacketCountsToTheRowOfItsDatagram) {
  const Bytes arp = LinkFrame(DLT_EN10MB, Bytes(28, 1), 0x0806);
  const std::vector<Bytes> packets = {
      V4(6, 1024, 80, 1000),
      V4(6, 1024, 80, 40),  // a bare acknowledgement: not counted
      V4(17, 5353, 53, 200, 6),  // behind a router alert option
      V4(1, 0x0800, 0x1234, 84),  // an echo request: type, code, checksum
      V4(6, 1024, 80, 1000),
      arp,
      V4Fragment(17, 7, 0, true, 1500, 4000, 53),  // in order
      V4Fragment(17, 7, 185, true, 1500),
      V4Fragment(17, 7, 370, false, 1048),
      V4Fragment(17, 8, 0, true, 1500, 4002, 53),  // the last before the middle
      V4Fragment(17, 8, 370, false, 548),
      V4Fragment(17, 8, 185, true, 1500),
      V4Fragment(17, 9, 185, false, 600),  // before its first: ports 0
      V4Fragment(17, 9, 0, true, 1500, 4001, 53),
      V4Fragment(1, 10, 0, true, 1500, 0x0800, 0xABCD),  // a large echo request
      V4Fragment(1, 10, 185, false, 1048),
      V6(6, 1024, 443, 1000),
      V6(6, 1024, 443, 20),  // a bare acknowledgement: 60 bytes, not counted
      V6(6, 1024, 443, 1000, {{0, 8}}),  // the same connection behind hop-by-hop options
      V6(17, 5353, 53, 100, {{43, 24}, {60, 16}}),
      V6(17, 5354, 53, 100, {{51, 24}}),
      V6(17, 5355, 53, 8),  // an empty datagram: 48 bytes, not counted
      V6(58, 0x8000, 0x1111, 64),  // an echo request
      V6Fragment(17, 7, 0, true, 1448, 6000, 53),  // in order, the same identification as IPv4's
      V6Fragment(17, 7, 181, true, 1448),
      V6Fragment(17, 7, 362, false, 1112),
      V6Fragment(17, 8, 181, false, 500),  // before its first: ports 0
      V6Fragment(17, 8, 0, true, 1448, 6001, 53),
      V6Fragment(58, 9, 0, true, 1448, 0x8000, 0x2222),  // a large echo request
      V6Fragment(58, 9, 181, false, 1000),
  };
  const std::string expected =
      "src,sport,dst,dport,proto,bytes,packets\n"
      "10.0.0.1,1024,10.0.0.2,80,6,2000,2\n"
      "10.0.0.1,5353,10.0.0.2,53,17,200,1\n"
      "10.0.0.1,2048,10.0.0.2,4660,1,84,1\n"
      "10.0.0.1,4000,10.0.0.2,53,17,4048,3\n"
      "10.0.0.1,4002,10.0.0.2,53,17,3548,3\n"
      "10.0.0.1,0,10.0.0.2,0,17,600,1\n"
      "10.0.0.1,4001,10.0.0.2,53,17,1500,1\n"
      "10.0.0.1,2048,10.0.0.2,43981,1,2548,2\n"
      "2001:db8::1,1024,2001:db8::2,443,6,2088,2\n"
      "2001:db8::1,5353,2001:db8::2,53,17,180,1\n"
      "2001:db8::1,5354,2001:db8::2,53,17,164,1\n"
      "2001:db8::1,32768,2001:db8::2,4369,58,104,1\n"
      "2001:db8::1,6000,2001:db8::2,53,17,4152,3\n"
      "2001:db8::1,0,2001:db8::2,0,17,548,1\n"
      "2001:db8::1,6001,2001:db8::2,53,17,1496,1\n"
      "2001:db8::1,32768,2001:db8::2,8738,58,2544,2\n";
  const std::string path = Write(packets);
  const ProgramRun run = Replay(path);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err.rfind("packets=26 data=", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(" total=25804 connections=16 "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" records=30"), std::string::npos) << run.err;
  EXPECT_EQ(Counted(path), expected) << "the tests' own count reads the file as the table says";
}

// Many datagrams of both families, interleaved as a busy link interleaves
// them (the IPv4 packets counted in runs, the IPv6 ones one by one), with
// fragments sometimes out of order and lengths around the assumed headers.
TEST_F(ReplayFamiliesTest, AMixOfBothFamiliesCountsAsTheIndependentCountDoes) {
  std::mt19937 random(6464);
  const auto pick = [&](auto... values) {
    const std::uint32_t all[] = {static_cast<std::uint32_t>(values)...};
    return all[random() % sizeof...(values)];
  };
  std::vector<Bytes> packets;
  for (std::uint32_t datagram = 0; datagram < 1500; ++datagram) {
    const bool ipv6 = random() % 2;
    const auto protocol = static_cast<std::uint8_t>(ipv6 ? pick(6, 17, 58, 59) : pick(6, 17, 1, 2));
    const auto sourcePort = static_cast<std::uint16_t>(pick(1024, 1025, 5353));
    const auto destinationPort = static_cast<std::uint16_t>(pick(53, 80, 443));
    const auto length = static_cast<std::uint16_t>(pick(20, 28, 40, 41, 48, 60, 61, 100, 1400));
    std::vector<Bytes> datagramPackets;
    if (random() % 5 != 0) {
      if (ipv6) {
        std::vector<Extension> extensions;
        if (random() % 3 == 0) extensions = {{0, 8}, {60, 16}};
        datagramPackets.push_back(V6(protocol, sourcePort, destinationPort, length, extensions));
      } else {
        datagramPackets.push_back(V4(protocol, sourcePort, destinationPort, std::max<std::uint16_t>(length, 24),
                                     static_cast<std::uint8_t>(pick(5, 5, 6))));
      }
    } else {
      const auto id = static_cast<std::uint16_t>(datagram);
      for (std::uint16_t piece = 0; piece < 3; ++piece) {
        const bool more = piece < 2;
        const auto offset = static_cast<std::uint16_t>(piece * 185);
        const auto ports = piece == 0 ? std::pair{sourcePort, destinationPort} : std::pair{kPayloadWord1, kPayloadWord2};
        datagramPackets.push_back(ipv6 ? V6Fragment(protocol, id, offset, more, 1448, ports.first, ports.second)
                                       : V4Fragment(protocol, id, offset, more, 1500, ports.first, ports.second));
      }
      if (random() % 3 == 0) std::shuffle(datagramPackets.begin(), datagramPackets.end(), random);
    }
    packets.insert(packets.end(), datagramPackets.begin(), datagramPackets.end());
  }
  const std::string path = Write(packets);
  const ProgramRun run = Replay(path);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string counted = Counted(path);
  EXPECT_GT(std::count(counted.begin(), counted.end(), '\n'), 50);
  EXPECT_EQ(run.out, counted);
}

}  // namespace
