// The packet log's records of IPv6 packets, in every layout: the whole
// packet from its fixed header on, the payload after the extension headers
// and the transport header, addresses in their compressed form (in
// brackets where a port follows), and the ports the table counts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/packet_log.h"
#include "packet/packet_parser.h"
#include "platform/local_time.h"
#include "support/file_text.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/settings_fixture.h"
#include "table/traffic_list.h"

namespace {

using namespace std::string_literals;
using Extension = Ip6Packet::Extension;
using Bytes = std::vector<std::uint8_t>;

constexpr platform::LocalTime kIpv6LogClock{2021, 5, 6, 4, 13, 45, 7, 83};

// `tail` over the last bytes of the packet.
Bytes EndingIn(const Ip6Packet& packet, const std::string& tail) {
  Bytes bytes = packet.Bytes();
  std::memcpy(bytes.data() + bytes.size() - tail.size(), tail.data(), tail.size());
  return bytes;
}

enum class Sample { kTcpAfterHopByHop, kUdpLongestAddress, kIcmpv6Echo, kLaterFragment, kPayloadPastItsEnd };

// The first fragment of the datagram kLaterFragment belongs to: UDP from
// port 4000 to 53, whose ports the later one counts under.
Bytes FirstFragment() {
  Ip6Packet first;
  first.extensions = {Extension{44, 8, 0, true, 7}};
  first.protocol = 17;
  first.sourcePort = 4000;
  first.destinationPort = 53;
  first.payloadLength = 16;
  return first.Bytes();
}

Bytes SampleBytes(Sample sample) {
  Ip6Packet packet;
  switch (sample) {
    case Sample::kTcpAfterHopByHop: {
      // 20 bytes of TCP header (offset 5 words, PSH ACK), 4 of data.
      packet.extensions = {Extension{0, 8}};
      packet.payloadLength = 24;
      Bytes bytes = EndingIn(packet, "Hi\n\x80"s);
      bytes[48 + 12] = 0x50;
      bytes[48 + 13] = 0x18;
      return bytes;
    }
    case Sample::kUdpLongestAddress:
      packet.source = "2001:db8:1111:2222:3333:4444:5555:6666";
      packet.destination = "fd00::53";
      packet.protocol = 17;
      packet.sourcePort = 5353;
      packet.destinationPort = 53;
      packet.payloadLength = 13;
      return EndingIn(packet, "query");
    case Sample::kIcmpv6Echo:
      // Type 128, code 0, checksum 0x1234: the table's ports 32768 and 4660.
      packet.source = "fe80::1";
      packet.destination = "ff02::1";
      packet.protocol = 58;
      packet.sourcePort = 0x8000;
      packet.destinationPort = 0x1234;
      packet.payloadLength = 12;
      return EndingIn(packet, "\x00\x01\x00\x02ping"s);
    case Sample::kLaterFragment:
      // 6 bytes of the datagram's data from offset 16: "ABCD\t\0".
      packet.extensions = {Extension{44, 8, 2, false, 7}};
      packet.protocol = 17;
      packet.sourcePort = 0x4142;
      packet.destinationPort = 0x4344;
      packet.payloadLength = 6;
      return EndingIn(packet, "\t\0"s);
    case Sample::kPayloadPastItsEnd:
      // 64 bytes, counted (past TCP's assumed 60), but the extension
      // header leaves only 8 bytes of TCP header: no payload at all.
      packet.extensions = {Extension{60, 16}};
      packet.payloadLength = 8;
      return packet.Bytes();
  }
  return {};
}

struct Case {
  Sample sample;
  int layout;
  std::string record;
};

// The record of each sample at kIpv6LogClock in the layouts that show what it is
// about.
const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {Sample::kTcpAfterHopByHop, 0,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"
       "00000000 60 00 00 00 00 20 00 40 20 01 0d b8 00 00 00 00 `      @ \001 \270    \r\n"
       "00000010 00 00 00 00 00 00 00 01 20 01 0d b8 00 00 00 00        \001 \001 \270    \r\n"
       "00000020 00 00 00 00 00 00 00 02 06 00 00 00 00 00 00 00        \002\006       \r\n"
       "00000030 04 00 00 50 00 00 00 00 00 00 00 00 50 18 00 00 \004  P        P\030  \r\n"
       "00000040 00 00 00 00 48 69 0a 80                             Hi \200\r\n"s},
      {Sample::kTcpAfterHopByHop, 1,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"
       "`\000\000\000\000 \000@ \001\r\270\000\000\000\000"
       "\000\000\000\000\000\000\000\001 \001\r\270\000\000\000\000"
       "\000\000\000\000\000\000\000\002\006\000\000\000\000\000\000\000"
       "\004\000\000P\000\000\000\000\000\000\000\000P\030\000\000"
       "\000\000\000\000Hi\n\200"s},
      {Sample::kTcpAfterHopByHop, 2,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"
       "00000000 60 00 00 00 00 20 00 40 20 01 0d b8 00 00 00 00\r\n"
       "00000010 00 00 00 00 00 00 00 01 20 01 0d b8 00 00 00 00\r\n"
       "00000020 00 00 00 00 00 00 00 02 06 00 00 00 00 00 00 00\r\n"
       "00000030 04 00 00 50 00 00 00 00 00 00 00 00 50 18 00 00\r\n"
       "00000040 00 00 00 00 48 69 0a 80 \r\n"s},
      {Sample::kTcpAfterHopByHop, 3,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"
       "00000000 48 69 0a 80                                     Hi \200\r\n"s},
      {Sample::kTcpAfterHopByHop, 4,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"
       "Hi\n\200"s},
      {Sample::kTcpAfterHopByHop, 5,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"
       "00000000 48 69 0a 80 \r\n"s},
      {Sample::kTcpAfterHopByHop, 6,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 72 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"s},
      {Sample::kTcpAfterHopByHop, 7,
       "2021.05.06;13:45:07.083;TCP;4;2001:db8::1;1024;2001:db8::2;80\r\n"s},
      {Sample::kTcpAfterHopByHop, 8,
       "2021.05.06;13:45:07.083;TCP;4;2001:db8::1;1024;2001:db8::2;80;48 69 0a 80 \r\n"s},
      {Sample::kUdpLongestAddress, 5,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: UDP len: 53 [2001:db8:1111:2222:3333:4444:5555:6666]:5353 -> [fd00::53]:53 \r\n"
       "\r\n"
       "00000000 71 75 65 72 79 \r\n"s},
      {Sample::kUdpLongestAddress, 7,
       "2021.05.06;13:45:07.083;UDP;5;2001:db8:1111:2222:3333:4444:5555:6666;5353;fd00::53;53\r\n"s},
      {Sample::kUdpLongestAddress, 8,
       "2021.05.06;13:45:07.083;UDP;5;2001:db8:1111:2222:3333:4444:5555:6666;5353;fd00::53;53;71 75 65 72 79 \r\n"s},
      {Sample::kIcmpv6Echo, 3,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: unknown (58) len: 52 [fe80::1]:32768 -> [ff02::1]:4660 \r\n"
       "\r\n"
       "00000000 80 00 12 34 00 01 00 02 70 69 6e 67             \200 \0224 \001 \002ping\r\n"s},
      {Sample::kIcmpv6Echo, 8,
       "2021.05.06;13:45:07.083;unknown (58);12;fe80::1;32768;ff02::1;4660;80 00 12 34 00 01 00 02 70 69 6e 67 \r\n"s},
      {Sample::kLaterFragment, 5,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: UDP len: 54 [2001:db8::1]:4000 -> [2001:db8::2]:53 \r\n"
       "\r\n"
       "00000000 41 42 43 44 09 00 \r\n"s},
      {Sample::kLaterFragment, 8,
       "2021.05.06;13:45:07.083;UDP;6;2001:db8::1;4000;2001:db8::2;53;41 42 43 44 09 00 \r\n"s},
      {Sample::kPayloadPastItsEnd, 5,
       "\r\n"
       "[2021.05.06 - 13:45:07.083]\r\n"
       "Proto: TCP len: 64 [2001:db8::1]:1024 -> [2001:db8::2]:80 \r\n"
       "\r\n"s},
      {Sample::kPayloadPastItsEnd, 8,
       "2021.05.06;13:45:07.083;TCP;0;2001:db8::1;1024;2001:db8::2;80;\r\n"s},
  };
  return cases;
}

// Packets go through a parser of their own, as the capture's do, so that
// a later fragment counts with the ports its first brought.
class PacketLogIpv6Test : public SettingsFixture {
 protected:
  PacketLogIpv6Test() {
    platform::SetTestLocalTime(kIpv6LogClock);
    const std::string path = (Folder() / "packets.log").string();
    std::strcpy(Settings().logfile, path.c_str());
    Settings().uselogfile = 1;
    m_list.SetPacketLog(&m_log);
  }
  ~PacketLogIpv6Test() override { platform::ReleaseTestLocalTime(); }

  void Account(const Bytes& bytes) {
    ParsedPacket packet;
    ASSERT_TRUE(m_parser.Parse(bytes.data(), bytes.size(), 0, packet));
    m_list.AccountPacket(packet);
  }

  // A fresh log holding the records of `packets` in `layout`.
  std::string LogOf(int layout, const std::vector<Bytes>& packets) {
    std::filesystem::remove(Folder() / "packets.log");
    Settings().logtype = layout;
    m_log.OpenLog("a+");
    for (const Bytes& packet : packets) Account(packet);
    m_log.CloseLog();
    return ReadWholeText(Folder() / "packets.log");
  }

  PacketParser m_parser;
  CTrafficList m_list{Settings()};
  CPacketLog m_log{Settings(), m_list.TableLock()};
};

TEST_F(PacketLogIpv6Test, EachLayoutWritesItsRecordByteForByte) {
  Account(FirstFragment());  // before the log opens: remembered, not logged
  for (const Case& c : Cases()) {
    SCOPED_TRACE(testing::Message() << "sample " << static_cast<int>(c.sample) << ", layout " << c.layout);
    EXPECT_EQ(LogOf(c.layout, {SampleBytes(c.sample)}), c.record);
  }
}

// The table's rules decide: the ICMP switch hides ICMPv6, a packet no
// longer than its assumed header (60 bytes for TCP) is not counted, and a
// new connection while paused is counted but gets no row.
TEST_F(PacketLogIpv6Test, OnlyCountedPacketsAreLogged) {
  Ip6Packet icmpv6, bareAck, newWhilePaused;
  icmpv6.protocol = 58;
  bareAck.payloadLength = 20;
  newWhilePaused.payloadLength = 21;
  newWhilePaused.sourcePort = 81;
  Settings().filtericmp = 1;
  Settings().paused = 1;
  EXPECT_EQ(LogOf(7, {icmpv6.Bytes(), bareAck.Bytes(), newWhilePaused.Bytes()}),
            "2021.05.06;13:45:07.083;TCP;1;2001:db8::1;81;2001:db8::2;80\r\n");
  Settings().filtericmp = 0;
  EXPECT_EQ(LogOf(7, {icmpv6.Bytes()}), "2021.05.06;13:45:07.083;unknown (58);60;2001:db8::1;1024;2001:db8::2;80\r\n");
}

// IPv4 too: a packet with options has its ports and payload after its real
// header, and a later fragment the ports its first brought, as in the list.
TEST_F(PacketLogIpv6Test, Ipv4WithOptionsOrInFragmentsShowsTheListsPorts) {
  IpPacket withOptions;
  withOptions.headerWords = 6;
  withOptions.totalLength = 24 + 20 + 4;
  IpPacket first, later;
  first.protocol = later.protocol = 17;
  first.id = later.id = 7;
  first.moreFragments = true;
  first.sourcePort = 4000;
  first.destinationPort = 53;
  first.totalLength = 20 + 16;
  later.fragmentOffset = 2;
  later.sourcePort = 0x4142;  // its data, not ports
  later.totalLength = 20 + 16;
  Account(first.Bytes());
  EXPECT_EQ(LogOf(7, {withOptions.Bytes(), later.Bytes()}),
            "2021.05.06;13:45:07.083;TCP;4;10.0.0.1;1024;10.0.0.2;80\r\n"
            "2021.05.06;13:45:07.083;UDP;16;10.0.0.1;4000;10.0.0.2;53\r\n");
}

}  // namespace
