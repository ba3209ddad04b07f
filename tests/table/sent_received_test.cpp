// Which side of the totals a packet counts on: sent when its source is one
// of this machine's own addresses on the adapter, received otherwise.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "platform/tick_count.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/settings_fixture.h"
#include "table/traffic_list.h"

namespace {

constexpr std::uint32_t kOwnIpv4 = 0x0A000001;  // 10.0.0.1
constexpr const char* kOwnIpv6 = "2001:db8::1";

IpAddress Ipv6Address(const std::string& text) {
  std::uint8_t bytes[16] = {};
  inet_pton(AF_INET6, text.c_str(), bytes);
  return IpAddress::Ipv6(bytes);
}

class SentReceivedTest : public SettingsFixture {
 protected:
  SentReceivedTest() {
    platform::SetTestTickCount(5000);
    m_list.SetLocalAddresses({IpAddress::Ipv4(htonl(kOwnIpv4)), Ipv6Address(kOwnIpv6)});
  }
  ~SentReceivedTest() override { platform::ReleaseTestTickCount(); }

  void Account(const std::vector<std::uint8_t>& bytes) { m_list.AccountPacket(bytes.data(), bytes.size()); }

  CTrafficList m_list{Settings()};
};

IpPacket Ipv4From(std::uint32_t source, std::uint32_t destination, std::uint16_t length) {
  IpPacket packet;
  packet.source = source;
  packet.destination = destination;
  packet.totalLength = length;
  return packet;
}

Ip6Packet Ipv6From(const std::string& source, const std::string& destination, std::size_t payload) {
  Ip6Packet packet;
  packet.source = source;
  packet.destination = destination;
  packet.payloadLength = payload;
  return packet;
}

// In order, on one table: new connections and known ones, both families,
// the own address as destination, another host's traffic, an IPv6 address
// whose first bytes are the own IPv4 address, and a pause, which keeps new
// connections out of the table but not out of the totals.
TEST_F(SentReceivedTest, PacketsFromTheOwnAddressesCountAsSentAllOthersAsReceived) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool sent;
    bool paused = false;
  };
  const Case cases[] = {
      {"own IPv4 source", Ipv4From(kOwnIpv4, 0x0A000002, 100).Bytes(), true},
      {"own IPv4 destination", Ipv4From(0x0A000002, kOwnIpv4, 300).Bytes(), false},
      {"known sent connection", Ipv4From(kOwnIpv4, 0x0A000002, 140).Bytes(), true},
      {"known received connection", Ipv4From(0x0A000002, kOwnIpv4, 70).Bytes(), false},
      {"between other hosts", Ipv4From(0x0A000003, 0x0A000004, 500).Bytes(), false},
      {"own IPv6 source", Ipv6From(kOwnIpv6, "2001:db8::2", 60).Bytes(), true},
      {"own IPv6 destination", Ipv6From("2001:db8::2", kOwnIpv6, 90).Bytes(), false},
      {"known IPv6 sent connection", Ipv6From(kOwnIpv6, "2001:db8::2", 45).Bytes(), true},
      {"IPv6 with the own IPv4 bytes", Ipv6From("a00:1::", "2001:db8::2", 60).Bytes(), false},
      {"new IPv4 sent while paused", Ipv4From(kOwnIpv4, 0x0A000009, 200).Bytes(), true, true},
      {"new IPv4 received while paused", Ipv4From(0x0A000009, kOwnIpv4, 210).Bytes(), false, true},
      {"new IPv6 sent while paused", Ipv6From(kOwnIpv6, "2001:db8::9", 80).Bytes(), true, true},
      {"new IPv6 received while paused", Ipv6From("2001:db8::9", kOwnIpv6, 85).Bytes(), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Settings().paused = c.paused ? 1 : 0;
    const CaptureTotals before = m_list.Totals();
    const std::size_t entries = m_list.EntryCount();
    Account(c.bytes);
    const CaptureTotals& after = m_list.Totals();
    ASSERT_EQ(after.packets, before.packets + 1) << "counted";
    const std::uint64_t length = after.totalBytes - before.totalBytes;
    EXPECT_EQ(after.sentBytes - before.sentBytes, c.sent ? length : 0u);
    if (m_list.EntryCount() > entries) {
      EXPECT_EQ(m_list.Entry(entries).sent, c.sent);
    }
  }
  EXPECT_EQ(m_list.EntryCount(), 6u);
}

// Addresses set later count for the connections made from then on; an
// empty set (a replayed file) makes everything received.
TEST_F(SentReceivedTest, NewAddressesCountForNewConnections) {
  Account(Ipv4From(kOwnIpv4, 0x0A000002, 100).Bytes());
  m_list.SetLocalAddresses({});
  Account(Ipv4From(kOwnIpv4, 0x0A000002, 100).Bytes());
  Account(Ipv4From(kOwnIpv4, 0x0A000003, 100).Bytes());
  EXPECT_EQ(m_list.Totals().sentBytes, 200u) << "the known connection stays sent";
  m_list.SetLocalAddresses({IpAddress::Ipv4(htonl(0x0A000003)), IpAddress::Ipv4(htonl(0x0A000003))});
  Account(Ipv4From(0x0A000003, kOwnIpv4, 100).Bytes());
  EXPECT_EQ(m_list.Totals().sentBytes, 300u);
}

}  // namespace
