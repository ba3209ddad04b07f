#include "packet/packet_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ip6_packet.h"
#include "support/ip_packet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Extension = Ip6Packet::Extension;

IpPacket Ipv4(std::uint8_t protocol, std::uint8_t headerWords = 5) {
  IpPacket packet;
  packet.protocol = protocol;
  packet.headerWords = headerWords;
  return packet;
}

IpPacket Ipv4Fragment(std::uint16_t offset, bool more) {
  IpPacket packet = Ipv4(17);
  packet.id = 0x4242;
  packet.fragmentOffset = offset;
  packet.moreFragments = more;
  return packet;
}

Ip6Packet Ipv6(std::uint8_t protocol, std::vector<Extension> extensions = {}) {
  Ip6Packet packet;
  packet.protocol = protocol;
  packet.extensions = std::move(extensions);
  return packet;
}

Extension Fragment6(std::uint16_t offset, bool more, std::uint32_t id = 7) { return {44, 8, offset, more, id}; }

struct Case {
  std::string name;
  Bytes bytes;
  bool parsed;
  int family;
  int protocol;
  std::uint32_t headerLength;
  std::uint32_t totalLength;
  bool hasPorts;  // 1024 -> 80 as the builders put them
  bool fragment;
  bool first;
};

// Every frame's expected reading, stateless: a later fragment has no ports.
std::vector<Case> Cases() {
  Bytes badVersion = Ipv4(6).Bytes();
  badVersion[0] = 0x55;
  return {
      {"ipv4", Ipv4(6).Bytes(), true, 4, 6, 20, 100, true, false, false},
      {"ipv4 with router alert option", Ipv4(2, 6).Bytes(), true, 4, 2, 24, 100, true, false, false},
      {"ipv4 with the longest header", Ipv4(17, 15).Bytes(), true, 4, 17, 60, 100, true, false, false},
      {"ipv4 header under five words", Ipv4(6, 4).Bytes(), false, 0, 0, 0, 0, false, false, false},
      {"neither version", badVersion, false, 0, 0, 0, 0, false, false, false},
      {"ipv4 first fragment", Ipv4Fragment(0, true).Bytes(), true, 4, 17, 20, 100, true, true, true},
      {"ipv4 middle fragment", Ipv4Fragment(185, true).Bytes(), true, 4, 17, 20, 100, false, true, false},
      {"ipv4 last fragment", Ipv4Fragment(370, false).Bytes(), true, 4, 17, 20, 100, false, true, false},
      {"ipv6 tcp", Ipv6(6).Bytes(), true, 6, 6, 40, 100, true, false, false},
      {"ipv6 icmpv6", Ipv6(58).Bytes(), true, 6, 58, 40, 100, true, false, false},
      {"ipv6 hop-by-hop udp", Ipv6(17, {{0, 8}}).Bytes(), true, 6, 17, 48, 108, true, false, false},
      {"ipv6 routing and destination options", Ipv6(6, {{43, 24}, {60, 16}}).Bytes(), true, 6, 6, 80, 140, true,
       false, false},
      {"ipv6 authentication in 4-byte units", Ipv6(6, {{51, 24}}).Bytes(), true, 6, 6, 64, 124, true, false, false},
      {"ipv6 first fragment", Ipv6(17, {Fragment6(0, true)}).Bytes(), true, 6, 17, 48, 108, true, true, true},
      {"ipv6 later fragment", Ipv6(17, {Fragment6(100, false)}).Bytes(), true, 6, 17, 48, 108, false, true, false},
      {"ipv6 later fragment before destination options", Ipv6(17, {Fragment6(100, true), {60, 8}}).Bytes(), true, 6,
       60, 48, 116, false, true, false},
      {"ipv6 esp ends the walk without ports", Ipv6(50).Bytes(), true, 6, 50, 40, 100, false, false, false},
      {"ipv6 unknown protocol has no ports", Ipv6(253, {{60, 8}}).Bytes(), true, 6, 253, 48, 108, false, false, false},
      {"ipv6 no next header", Ipv6(59).Bytes(), true, 6, 59, 40, 100, false, false, false},
      {"ipv6 chain longer than the bound", Ipv6(6, std::vector<Extension>(kMaxExtensionHeaders + 1, {60, 8})).Bytes(),
       true, 6, 60, 40 + 8 * kMaxExtensionHeaders, 40 + 8 * (kMaxExtensionHeaders + 1) + 60, false, false, false},
  };
}

// A copy of exactly the captured bytes, so that a read past them is caught.
bool ParseCaptured(const Bytes& bytes, std::size_t captured, ParsedPacket& packet) {
  const auto copy = std::make_unique<std::uint8_t[]>(captured == 0 ? 1 : captured);
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(captured), copy.get());
  const bool parsed = ParseIpPacket(copy.get(), captured, packet);
  packet.ip = nullptr;  // the copy is gone
  return parsed;
}

TEST(PacketParserTest, ReadsEachFrameAsItsProtocolDefinesIt) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ParsedPacket packet;
    ASSERT_EQ(ParseCaptured(c.bytes, c.bytes.size(), packet), c.parsed);
    if (!c.parsed) continue;
    EXPECT_EQ(static_cast<int>(packet.family), c.family);
    EXPECT_EQ(packet.protocol, c.protocol);
    EXPECT_EQ(packet.headerLength, c.headerLength);
    EXPECT_EQ(packet.totalLength, c.totalLength);
    const Bytes ports = c.hasPorts ? Bytes{0x04, 0x00, 0x00, 0x50} : Bytes{0, 0, 0, 0};
    EXPECT_EQ(Bytes(packet.ports, packet.ports + 4), ports);
    EXPECT_EQ(packet.fragment, c.fragment);
    EXPECT_EQ(packet.firstFragment, c.first);
  }
}

// Cut short at every length: nothing past the captured bytes is read (the
// address sanitizer sees to that), the fixed header decides whether it is
// read at all, and ports are only ever what the whole frame says or zero.
TEST(PacketParserTest, FramesCutAtEveryOffsetAreReadWithinTheirBytes) {
  for (const Case& c : Cases()) {
    if (!c.parsed) continue;
    SCOPED_TRACE(c.name);
    ParsedPacket whole;
    ParseCaptured(c.bytes, c.bytes.size(), whole);
    const std::size_t fixed = c.family == 4 ? 20 : 40;
    for (std::size_t captured = 0; captured < c.bytes.size(); ++captured) {
      ParsedPacket cut;
      ASSERT_EQ(ParseCaptured(c.bytes, captured, cut), captured >= fixed) << captured;
      if (captured < fixed) continue;
      EXPECT_EQ(cut.totalLength, whole.totalLength) << captured;
      EXPECT_LE(cut.headerLength, whole.headerLength) << captured;
      for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(cut.ports[i] == whole.ports[i] || cut.ports[i] == 0) << captured;
      if (captured >= whole.headerLength + 4) {
        EXPECT_EQ(Bytes(cut.ports, cut.ports + 4), Bytes(whole.ports, whole.ports + 4)) << captured;
      }
    }
  }
}

struct Parsed {
  int protocol;
  Bytes ports;
};

Parsed ParseIn(PacketParser& parser, const Bytes& bytes, std::uint32_t seconds) {
  ParsedPacket packet;
  EXPECT_TRUE(parser.Parse(bytes.data(), bytes.size(), seconds, packet));
  return {packet.protocol, Bytes(packet.ports, packet.ports + 4)};
}

const Bytes kPorts = {0x04, 0x00, 0x00, 0x50};
const Bytes kNoPorts = {0, 0, 0, 0};

TEST(PacketParserTest, LaterFragmentsTakeTheirFirstFragmentsPorts) {
  PacketParser parser;
  const Bytes last = Ipv4Fragment(370, false).Bytes();
  EXPECT_EQ(ParseIn(parser, last, 10).ports, kNoPorts) << "its first not seen yet";
  EXPECT_EQ(ParseIn(parser, Ipv4Fragment(0, true).Bytes(), 10).ports, kPorts);
  EXPECT_EQ(ParseIn(parser, Ipv4Fragment(185, true).Bytes(), 11).ports, kPorts);
  EXPECT_EQ(ParseIn(parser, last, 12).ports, kPorts);
  EXPECT_EQ(ParseIn(parser, last, 10 + FragmentMemory::kLifetimeSeconds + 1).ports, kNoPorts) << "forgotten";

  IpPacket otherDatagram = Ipv4Fragment(185, false);
  otherDatagram.id = 0x4243;
  EXPECT_EQ(ParseIn(parser, otherDatagram.Bytes(), 12).ports, kNoPorts);
  IpPacket otherProtocol = Ipv4Fragment(185, false);
  otherProtocol.protocol = 6;
  ParseIn(parser, Ipv4Fragment(0, true).Bytes(), 20);
  EXPECT_EQ(ParseIn(parser, otherProtocol.Bytes(), 20).ports, kNoPorts) << "a datagram is named with its protocol";
}

// An IPv6 datagram's later fragments may not even say its protocol: the
// first's is taken, over whatever header the fragmentable part begins with.
TEST(PacketParserTest, LaterIpv6FragmentsTakeTheirFirstFragmentsProtocolAndPorts) {
  PacketParser parser;
  const Bytes later = Ipv6(17, {Fragment6(100, false)}).Bytes();
  Bytes laterBehindOptions = later;
  laterBehindOptions[40] = 60;  // the fragment header's next header
  EXPECT_EQ(ParseIn(parser, laterBehindOptions, 5).protocol, 60) << "its first not seen yet";
  EXPECT_EQ(ParseIn(parser, Ipv6(17, {Fragment6(0, true), {60, 8}}).Bytes(), 5).ports, kPorts);
  const Parsed recalled = ParseIn(parser, laterBehindOptions, 5);
  EXPECT_EQ(recalled.protocol, 17);
  EXPECT_EQ(recalled.ports, kPorts);

  Ip6Packet elsewhere = Ipv6(17, {Fragment6(100, false)});
  elsewhere.source = "2001:db8::99";
  EXPECT_EQ(ParseIn(parser, elsewhere.Bytes(), 5).ports, kNoPorts);
}

// A flood of first fragments of made-up datagrams takes the memory's slots
// and nothing more; a datagram that comes after it is followed again.
TEST(PacketParserTest, AFloodOfSpoofedFirstFragmentsStaysInItsSlots) {
  PacketParser parser;
  IpPacket spoofed = Ipv4Fragment(0, true);
  for (std::uint32_t i = 0; i < 20 * FragmentMemory::kSlots; ++i) {
    spoofed.source = 0xC6120000u + (i >> 16);
    spoofed.id = static_cast<std::uint16_t>(i);
    ParseIn(parser, spoofed.Bytes(), 1);
  }
  ParseIn(parser, Ipv4Fragment(0, true).Bytes(), 2);
  EXPECT_EQ(ParseIn(parser, Ipv4Fragment(185, false).Bytes(), 2).ports, kPorts);
}

}  // namespace
