#include "table/traffic_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "packet/packet_parser.h"
#include "platform/tick_count.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/settings_fixture.h"
#include "table/memory_traffic_display.h"

namespace {

class TrafficListTest : public SettingsFixture {
 protected:
  TrafficListTest() {
    platform::SetTestTickCount(5000);
    m_list.SetDisplay(&m_display);
  }
  ~TrafficListTest() override { platform::ReleaseTestTickCount(); }

  void Account(const IpPacket& packet) {
    const auto bytes = packet.Bytes();
    m_list.AccountPacket(bytes.data(), bytes.size());
  }

  // Gives every entry without a row a row at the end, as a refresh pass does.
  void ShowEntries() {
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
      TrafficEntry& entry = m_list.Entry(i);
      if (entry.row < 0) entry.row = m_display.InsertRow(m_display.ItemCount(), "", entry, m_list.EndpointsOf(entry.key));
    }
  }

  void ExpectEveryRowShowsItsEntry() {
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
      const TrafficEntry& entry = m_list.Entry(i);
      if (entry.row < 0) continue;
      ASSERT_LT(entry.row, m_display.ItemCount());
      EXPECT_EQ(m_display.Rows()[entry.row].itemData, &entry) << "entry " << i;
    }
  }

  MemoryTrafficDisplay m_display;  // outlives the table, which empties it when destroyed
  CTrafficList m_list{Settings()};
};

TEST_F(TrafficListTest, EachDirectionAndProtocolIsItsOwnConnection) {
  IpPacket forward;
  IpPacket reply = forward;
  std::swap(reply.source, reply.destination);
  std::swap(reply.sourcePort, reply.destinationPort);
  IpPacket otherProtocol = forward;
  otherProtocol.protocol = 17;
  for (const IpPacket& packet : {forward, reply, otherProtocol, forward}) Account(packet);

  ASSERT_EQ(m_list.EntryCount(), 3u);
  EXPECT_EQ(m_list.Entry(0).packets, 2u);
  EXPECT_EQ(m_list.Entry(0).bytes, 200u);
  EXPECT_EQ(m_list.Entry(1).packets, 1u);
  EXPECT_EQ(m_list.Entry(2).key.protocol, 17);
}

TEST_F(TrafficListTest, NewEntryStartsWithThePacketItCameFrom) {
  IpPacket packet;
  packet.totalLength = 321;
  Account(packet);
  ASSERT_EQ(m_list.EntryCount(), 1u);
  const TrafficEntry& entry = m_list.Entry(0);
  EXPECT_EQ(entry.bytes, 321u);
  EXPECT_EQ(entry.packets, 1u);
  EXPECT_EQ(entry.bytesAtLastFullPass, 0u);
  EXPECT_EQ(entry.firstSeen, 5000u);
  EXPECT_EQ(entry.lastSeen, 5000u);
  EXPECT_EQ(entry.row, -1);
  // The key holds the packet's bytes as they were on the wire.
  EXPECT_EQ(entry.key.sourceAddress, htonl(packet.source));
  EXPECT_EQ(entry.key.destinationPort, htons(80));

  platform::SetTestTickCount(7000);
  Account(packet);
  EXPECT_EQ(entry.firstSeen, 5000u);
  EXPECT_EQ(entry.lastSeen, 7000u);
}

struct LengthCase {
  std::uint8_t protocol;
  std::uint16_t totalLength;
  bool counted;
  std::uint32_t dataBytes;
};

TEST_F(TrafficListTest, PacketsNotLongerThanTheirAssumedHeaderAreIgnored) {
  const LengthCase cases[] = {
      {6, 40, false, 0},  {6, 41, true, 1},   {17, 28, false, 0}, {17, 29, true, 1},
      {2, 28, false, 0},  {2, 29, true, 1},   {4, 20, false, 0},  {4, 21, true, 1},
      {1, 0, false, 0},   {1, 1, true, 1},    {1, 84, true, 84},  {47, 60, true, 60},
  };
  for (const auto& c : cases) {
    m_list.RemoveAll();
    m_list.Totals() = CaptureTotals{};
    IpPacket packet;
    packet.protocol = c.protocol;
    packet.totalLength = c.totalLength;
    Account(packet);
    SCOPED_TRACE("protocol " + std::to_string(c.protocol) + " length " + std::to_string(c.totalLength));
    EXPECT_EQ(m_list.Totals().packets, c.counted ? 1u : 0u);
    EXPECT_EQ(m_list.Totals().dataBytes, c.dataBytes);
    EXPECT_EQ(m_list.Totals().totalBytes, c.counted ? c.totalLength : 0u);
    EXPECT_EQ(m_list.EntryCount(), c.counted ? 1u : 0u);
  }
}

TEST_F(TrafficListTest, IcmpChecksumIsPartOfTheKey) {
  IpPacket echo;
  echo.protocol = 1;
  echo.sourcePort = 0x0800;  // type 8, code 0
  echo.destinationPort = 0x1234;
  Account(echo);
  echo.destinationPort = 0x1235;
  Account(echo);
  EXPECT_EQ(m_list.EntryCount(), 2u);
}

TEST_F(TrafficListTest, HiddenProtocolsLeaveEveryCounterUnchanged) {
  struct HideCase {
    std::atomic<std::int32_t> CSettings::*hide;
    std::uint8_t protocol;
  };
  const HideCase cases[] = {{&CSettings::filtertcp, 6}, {&CSettings::filterudp, 17}, {&CSettings::filtericmp, 1}};
  for (const auto& c : cases) {
    Settings().*c.hide = 1;
    IpPacket packet;
    packet.protocol = c.protocol;
    Account(packet);
    EXPECT_EQ(m_list.Totals().packets, 0u) << int(c.protocol);
    EXPECT_EQ(m_list.EntryCount(), 0u);
    EXPECT_EQ(m_display.StatusText(), "");
    Settings().*c.hide = 0;
  }
  IpPacket other;
  other.protocol = 47;
  Settings().filtertcp = Settings().filterudp = Settings().filtericmp = 1;
  Account(other);
  EXPECT_EQ(m_list.EntryCount(), 1u);
}

TEST_F(TrafficListTest, PauseKeepsKnownConnectionsCountingButAddsNoNewOnes) {
  IpPacket known;
  IpPacket fresh;
  fresh.sourcePort = 2000;
  Account(known);
  Settings().paused = 1;
  Account(known);
  Account(fresh);
  EXPECT_EQ(m_list.EntryCount(), 1u);
  EXPECT_EQ(m_list.Entry(0).packets, 2u);
  EXPECT_EQ(m_list.Totals().packets, 3u);
  Settings().paused = 0;
  Account(fresh);
  ASSERT_EQ(m_list.EntryCount(), 2u);
  EXPECT_EQ(m_list.Entry(1).packets, 1u);
}

TEST_F(TrafficListTest, StatusLineFollowsEveryCountedPacketInTheChosenUnit) {
  IpPacket packet;
  packet.totalLength = 1064;
  Account(packet);
  EXPECT_EQ(m_display.StatusText(), "All packets: 1, Data: 1024 bytes, Total traffic: 1064 bytes");
  Settings().units = 3;
  Account(packet);
  EXPECT_EQ(m_display.StatusText(), "All packets: 2, Data: 2.00 Kb, Total traffic: 2.08 Kb");
  EXPECT_STREQ(m_list.StatusText(), m_display.StatusText().c_str());
}

// A connection that moves more than 4 GiB keeps counting; so do the totals.
TEST_F(TrafficListTest, CountersGoPast4GiB) {
  IpPacket packet;
  Account(packet);
  m_list.Entry(0).bytes = 0xFFFFFFF0u;
  m_list.Entry(0).packets = 0xFFFFFFFFu;
  m_list.Totals().totalBytes = 0xFFFFFFF0u;
  m_list.Totals().packets = 0xFFFFFFFFu;
  Account(packet);
  EXPECT_EQ(m_list.Entry(0).bytes, 0x100000054u);
  EXPECT_EQ(m_list.Entry(0).packets, 0x100000000u);
  EXPECT_EQ(m_list.Totals().totalBytes, 0x100000054u);
  EXPECT_EQ(m_list.Totals().packets, 0x100000000u);
}

TEST_F(TrafficListTest, NeverReadsPastTheCapturedBytes) {
  IpPacket packet;
  packet.sourcePort = 0x1122;
  packet.destinationPort = 0x3344;
  packet.totalLength = 1500;
  auto bytes = packet.Bytes();
  // Cut right after the source port; the missing destination port counts as 0.
  std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 22);
  m_list.AccountPacket(cut.data(), cut.size());
  ASSERT_EQ(m_list.EntryCount(), 1u);
  EXPECT_EQ(m_list.Entry(0).key.sourcePort, htons(0x1122));
  EXPECT_EQ(m_list.Entry(0).key.destinationPort, 0);
  // The packet counts with the length it had on the wire.
  EXPECT_EQ(m_list.Entry(0).bytes, 1500u);

  std::vector<std::uint8_t> headerOnly(bytes.begin(), bytes.begin() + 19);
  m_list.AccountPacket(headerOnly.data(), headerOnly.size());
  EXPECT_EQ(m_list.Totals().packets, 1u);
}

// Runs of every length, with new and known connections, hidden protocols,
// pauses, packets cut short and packets from the own addresses, give the
// same table and totals as one packet at a time.
TEST_F(TrafficListTest, RunsOfPacketsAccountAsOneAtATime) {
  CTrafficList oneByOne(Settings());
  std::vector<IpAddress> own;
  for (std::uint32_t host = 0; host < 400; host += 3) own.push_back(IpAddress::Ipv4(htonl(0x0A000000u + host)));
  m_list.SetLocalAddresses(own);
  oneByOne.SetLocalAddresses(own);
  std::mt19937 random(5);
  std::vector<CTrafficList::PacketHead> run;
  for (int round = 0; round < 300; ++round) {
    Settings().filterudp = round % 7 == 3;
    Settings().paused = round % 11 == 5;
    run.clear();
    const std::size_t length = random() % 100 == 0 ? 1 + random() % 600 : random() % 70;
    for (std::size_t i = 0; i < length; ++i) {
      IpPacket packet;
      packet.source = 0x0A000000u + random() % 400;
      packet.protocol = random() % 2 ? 6 : 17;
      packet.totalLength = static_cast<std::uint16_t>(random() % 1500);
      const auto bytes = packet.Bytes();
      const std::size_t captured = std::min<std::size_t>(bytes.size(), random() % 10 == 0 ? random() % 30 : 64);
      ParsedPacket parsed;
      if (!ParseIpPacket(bytes.data(), captured, parsed)) continue;
      run.push_back(CTrafficList::HeadOf(parsed));
      oneByOne.AccountPacket(parsed);
    }
    m_list.AccountPackets(run.data(), run.size());
  }
  ASSERT_EQ(m_list.EntryCount(), oneByOne.EntryCount());
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
    EXPECT_EQ(m_list.Entry(i).key, oneByOne.Entry(i).key);
    EXPECT_EQ(m_list.Entry(i).bytes, oneByOne.Entry(i).bytes);
    EXPECT_EQ(m_list.Entry(i).packets, oneByOne.Entry(i).packets);
  }
  EXPECT_EQ(m_list.Totals().packets, oneByOne.Totals().packets);
  EXPECT_EQ(m_list.Totals().dataBytes, oneByOne.Totals().dataBytes);
  EXPECT_EQ(m_list.Totals().totalBytes, oneByOne.Totals().totalBytes);
  EXPECT_EQ(m_list.Totals().sentBytes, oneByOne.Totals().sentBytes);
  EXPECT_GT(m_list.Totals().sentBytes, 0u);
  EXPECT_LT(m_list.Totals().sentBytes, m_list.Totals().totalBytes);
}

TEST_F(TrafficListTest, RemoveAllEmptiesTableAndRows) {
  Account(IpPacket{});
  ShowEntries();
  m_display.RecordOperations(true);
  m_list.RemoveAll();
  EXPECT_EQ(m_list.EntryCount(), 0u);
  EXPECT_EQ(m_display.ItemCount(), 0);
  m_list.RemoveAll();
  EXPECT_EQ(m_display.Operations(), (std::vector<std::string>{"delete all", "delete all"}));

  m_display.SetWindowExists(false);
  m_list.RemoveAll();
  EXPECT_EQ(m_display.Operations().size(), 2u);
  // Packets after a RemoveAll find no stale index entries.
  Account(IpPacket{});
  EXPECT_EQ(m_list.EntryCount(), 1u);
  EXPECT_EQ(m_list.Entry(0).packets, 1u);
}

// The row deletions of the plain walk that removes one entry at a time: the
// reference the single-sweep removal must reproduce.
std::vector<std::string> WalkRemovingOneAtATime(std::vector<std::pair<std::uint8_t, int>> entries,
                                                std::uint8_t protocol) {
  std::vector<std::string> deletions;
  int deleted = 0;
  for (std::size_t i = 0; i < entries.size();) {
    auto& [entryProtocol, row] = entries[i];
    if (row >= 0) row -= deleted;
    if (entryProtocol == protocol) {
      if (row >= 0) {
        deletions.push_back("delete " + std::to_string(row));
        ++deleted;
      }
      entries.erase(entries.begin() + i);
    } else {
      ++i;
    }
  }
  return deletions;
}

TEST_F(TrafficListTest, RemoveProtocolMakesTheSameRowDeletionsAsTheWalk) {
  std::mt19937 random(7);
  const std::uint8_t protocols[] = {1, 6, 17};
  for (int i = 0; i < 600; ++i) {
    IpPacket packet;
    packet.source = 0x0A000000u + static_cast<std::uint32_t>(i);
    packet.protocol = protocols[random() % 3];
    Account(packet);
    if (i % 7 == 3) ShowEntries();  // some entries stay without a row
  }
  std::vector<std::pair<std::uint8_t, int>> before;
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i)
    before.emplace_back(m_list.Entry(i).key.protocol, m_list.Entry(i).row);

  m_display.RecordOperations(true);
  m_list.RemoveProtocol(17);

  EXPECT_EQ(m_display.Operations(), WalkRemovingOneAtATime(before, 17));
  ExpectEveryRowShowsItsEntry();
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
    EXPECT_NE(m_list.Entry(i).key.protocol, 17);
    m_list.KeyScratch() = m_list.Entry(i).key;
    EXPECT_EQ(m_list.FindEntry(), static_cast<int>(i));
  }
  // A removed connection's next packet starts a new entry.
  IpPacket udp;
  udp.protocol = 17;
  const std::size_t count = m_list.EntryCount();
  Account(udp);
  EXPECT_EQ(m_list.EntryCount(), count + 1);
}

TEST_F(TrafficListTest, FindEntryAnswersAsALinearSearchWould) {
  std::mt19937 random(11);
  for (int step = 0; step < 3000; ++step) {
    IpPacket packet;
    packet.source = 0x0A000000u + random() % 64;
    packet.sourcePort = static_cast<std::uint16_t>(random() % 16);
    packet.protocol = random() % 2 ? 6 : 17;
    Account(packet);
    if (step % 500 == 499) m_list.RemoveEntry(static_cast<int>(random() % m_list.EntryCount()));
  }
  std::lock_guard lock(m_list.TableLock());
  for (std::uint32_t source = 0; source < 64; ++source) {
    for (std::uint16_t port = 0; port < 16; ++port) {
      IpPacket probe;
      probe.source = 0x0A000000u + source;
      probe.sourcePort = port;
      const auto bytes = probe.Bytes();
      std::memcpy(&m_list.KeyScratch().sourceAddress, &bytes[12], 4);
      std::memcpy(&m_list.KeyScratch().sourcePort, &bytes[20], 2);
      m_list.KeyScratch().destinationAddress = m_list.Entry(0).key.destinationAddress;
      m_list.KeyScratch().destinationPort = m_list.Entry(0).key.destinationPort;
      m_list.KeyScratch().protocol = 6;
      int linear = -1;
      for (std::size_t i = 0; i < m_list.EntryCount() && linear < 0; ++i)
        if (m_list.Entry(i).key == m_list.KeyScratch()) linear = static_cast<int>(i);
      ASSERT_EQ(m_list.FindEntry(), linear);
    }
  }
}

// IPv6 beside IPv4: the same 5-tuple rule, the addresses in full in the
// endpoints, an IPv6 packet's header counted 20 bytes longer, and ICMPv6
// under the ICMP switch.
class Ipv6TableTest : public TrafficListTest {
 protected:
  void Account6(const Ip6Packet& packet) {
    const auto bytes = packet.Bytes();
    m_list.AccountPacket(bytes.data(), bytes.size());
  }
  std::string Source(std::size_t position) {
    char text[IpAddress::kTextSize];
    return FormatIpAddress(m_list.EndpointsOf(m_list.Entry(position).key).source, text);
  }
};

TEST_F(Ipv6TableTest, ConnectionsOfBothFamiliesKeepTheirAddresses) {
  Ip6Packet a;
  a.source = "2001:db8::10";
  Ip6Packet reply = a;
  std::swap(reply.source, reply.destination);
  std::swap(reply.sourcePort, reply.destinationPort);
  Account6(a);
  Account(IpPacket{});
  Account6(reply);
  Account6(a);
  ASSERT_EQ(m_list.EntryCount(), 3u);
  EXPECT_EQ(Source(0), "2001:db8::10");
  EXPECT_EQ(m_list.Entry(0).packets, 2u);
  EXPECT_EQ(m_list.Entry(0).bytes, 200u);
  EXPECT_EQ(Source(1), "10.0.0.1");
  EXPECT_EQ(Source(2), "2001:db8::2");
  EXPECT_EQ(m_list.EndpointsOf(m_list.Entry(2).key).destinationPort, htons(1024));
  EXPECT_EQ(m_list.EndpointsOf(m_list.Entry(2).key).destination, m_list.EndpointsOf(m_list.Entry(0).key).source);
}

TEST_F(Ipv6TableTest, AssumedHeadersAre20BytesLongerThanIpv4s) {
  Ip6Packet bareAck;
  bareAck.payloadLength = 20;  // 60 bytes: a TCP header and no data
  Account6(bareAck);
  EXPECT_EQ(m_list.Totals().packets, 0u);
  bareAck.payloadLength = 21;
  Account6(bareAck);
  EXPECT_EQ(m_list.Totals().dataBytes, 1u);
  Ip6Packet ping;
  ping.protocol = 58;
  ping.payloadLength = 64;
  Account6(ping);
  EXPECT_EQ(m_list.Totals().dataBytes, 1u + 104u) << "ICMPv6 has no assumed header, as ICMP";
}

TEST_F(Ipv6TableTest, TheIcmpSwitchHidesIcmpv6Too) {
  Ip6Packet ping;
  ping.protocol = 58;
  Account6(ping);
  Account6(Ip6Packet{});
  Settings().filtericmp = 1;
  m_list.RemoveProtocol(1);
  ASSERT_EQ(m_list.EntryCount(), 1u);
  EXPECT_EQ(m_list.Entry(0).key.protocol, 6);
  Account6(ping);
  EXPECT_EQ(m_list.Totals().packets, 2u);
  Settings().filtericmp = 0;
}

// Addresses are numbered only while an entry holds them: entries that go
// and come back get their addresses right, however they were renumbered.
TEST_F(Ipv6TableTest, AddressesStayRightWhileEntriesComeAndGo) {
  std::mt19937 random(3);
  for (int step = 0; step < 3000; ++step) {
    Ip6Packet packet;
    packet.source = "2001:db8::" + std::to_string(random() % 50);
    packet.destination = "fd00::" + std::to_string(random() % 5);
    Account6(packet);
    if (step % 97 == 0) {
      m_list.RemoveEntriesIf([&](const TrafficEntry&) { return random() % 3 == 0; });
    }
    if (step % 1000 == 999) m_list.RemoveAll();
  }
  char text[IpAddress::kTextSize];
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
    const ConnectionEndpoints endpoints = m_list.EndpointsOf(m_list.Entry(i).key);
    const std::string source = FormatIpAddress(endpoints.source, text);
    const std::string destination = FormatIpAddress(endpoints.destination, text);
    EXPECT_EQ(source.rfind("2001:db8::", 0), 0u) << source;
    EXPECT_EQ(destination.rfind("fd00::", 0), 0u) << destination;
    m_list.KeyScratch() = m_list.Entry(i).key;
    EXPECT_EQ(m_list.FindEntry(), static_cast<int>(i));
  }
}

}  // namespace
