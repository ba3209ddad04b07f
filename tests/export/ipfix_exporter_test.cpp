// The IPFIX exporter's messages, caught on a loopback socket of the test's
// and read by a reader of its own: sizes, sequence numbers, templates and
// their refresh, the records' deltas and end reasons, and the owner's
// elements.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "export/ipfix_exporter.h"
#include "platform/tick_count.h"
#include "support/ipfix_reader.h"

namespace {

constexpr std::uint16_t kSourceIpv4 = 8, kSourceIpv6 = 27, kOctets = 1, kPackets = 2, kStart = 152, kEnd = 153,
                        kEndReason = 136, kSourcePort = 7, kDestinationPort = 11, kProcessId = 0x8000 | 1, kProgram = 0x8000 | 2;

// The connection `n`: IPv4 or IPv6, with an owner or without; a name of
// up to 15 bytes.
ClosedConnection Connection(std::uint32_t n, bool ipv6, bool owner, std::uint64_t bytes = 1000) {
  ClosedConnection connection;
  std::uint8_t address[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(address + 12, &n, 4);
  connection.endpoints.source = ipv6 ? IpAddress::Ipv6(address) : IpAddress::Ipv4(htonl(0x0A000000 + n));
  connection.endpoints.destination = ipv6 ? IpAddress::Ipv6(address) : IpAddress::Ipv4(htonl(0x0A0000FE));
  connection.endpoints.sourcePort = htons(static_cast<std::uint16_t>(n));
  connection.endpoints.destinationPort = htons(443);
  connection.endpoints.protocol = 6;
  connection.bytes = bytes;
  connection.packets = bytes / 100 + 1;
  connection.firstSeen = 100000;
  connection.lastSeen = 100500;
  if (owner) {
    connection.owner.pid = static_cast<std::int32_t>(1000 + n);
    CopyOwnerName(connection.owner.program, std::string("program-name-long").substr(0, n % 16));
  }
  return connection;
}

class IpfixExporterTest : public ::testing::Test {
 protected:
  IpfixExporterTest() {
    platform::SetTestTickCount(100000);
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int buffer = 8 << 20;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    m_collector.length = sizeof(sockaddr_in);
    getsockname(m_socket, reinterpret_cast<sockaddr*>(&m_collector.address), &m_collector.length);
  }
  ~IpfixExporterTest() override {
    m_exporter.reset();
    close(m_socket);
    platform::ReleaseTestTickCount();
  }

  IpfixExporter& Start(const IpfixExportSettings& settings) {
    m_exporter = std::make_unique<IpfixExporter>(m_collector, settings);
    return *m_exporter;
  }

  // The messages that arrive until `records` data records came, or none
  // came for two seconds.
  std::vector<IpfixRead::Message> Receive(std::size_t records) {
    std::vector<IpfixRead::Message> messages;
    std::size_t received = 0;
    std::vector<std::uint8_t> datagram(70000);
    pollfd waiting{m_socket, POLLIN, 0};
    while (received < records && poll(&waiting, 1, 2000) == 1) {
      const ssize_t size = recv(m_socket, datagram.data(), datagram.size(), 0);
      if (size <= 0) break;
      messages.push_back(m_reader.Read(datagram.data(), static_cast<std::size_t>(size)));
      EXPECT_EQ(m_reader.error, "") << "message " << messages.size();
      received += messages.back().records.size();
    }
    EXPECT_EQ(received, records);
    return messages;
  }

  int m_socket = -1;
  IpfixCollector m_collector;
  IpfixRead m_reader;
  std::unique_ptr<IpfixExporter> m_exporter;
};

// Every message fits its limit and says its length; its sequence number
// counts the data records before it; the templates come first; every
// record is there with its owner when it had one.
TEST_F(IpfixExporterTest, MessagesKeepToTheirLimitAndCountTheRecordsBeforeThem) {
  constexpr std::uint32_t kRecords = 1000;
  for (const std::size_t limit : {std::size_t{400}, std::size_t{548}, std::size_t{1400}, std::size_t{65507}}) {
    SCOPED_TRACE(limit);
    m_reader = IpfixRead();
    IpfixExportSettings settings;
    settings.maxMessageBytes = limit;
    settings.observationDomain = 7;
    IpfixExporter& exporter = Start(settings);
    std::uint64_t bytesSent = 0;
    for (std::uint32_t n = 1; n <= kRecords; ++n) {
      exporter.ConnectionClosed(Connection(n, n % 2 == 0, n % 4 >= 2, n * 10));
      bytesSent += n * 10;
    }
    exporter.Finish();
    const std::vector<IpfixRead::Message> messages = Receive(kRecords);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages[0].templates);
    std::uint32_t before = 0, owners = 0;
    std::uint64_t octets = 0;
    for (const IpfixRead::Message& message : messages) {
      EXPECT_EQ(message.version, 10);
      EXPECT_LE(message.size, limit);
      EXPECT_EQ(message.domain, 7u);
      EXPECT_EQ(message.sequence, before);
      before += static_cast<std::uint32_t>(message.records.size());
      for (const IpfixRead::Record& record : message.records) {
        octets += IpfixRead::Number(record.at(kOctets));
        EXPECT_EQ(record.count(kSourceIpv4) + record.count(kSourceIpv6), 1u);
        if (record.count(kProcessId) == 0) continue;
        const std::uint32_t n = static_cast<std::uint32_t>(IpfixRead::Number(record.at(kProcessId))) - 1000;
        EXPECT_EQ(std::string(record.at(kProgram).begin(), record.at(kProgram).end()),
                  std::string("program-name-long").substr(0, n % 16));
        ++owners;
      }
    }
    EXPECT_EQ(octets, bytesSent);
    EXPECT_EQ(owners, kRecords / 2);
    EXPECT_EQ(exporter.Totals().records, kRecords);
    EXPECT_EQ(exporter.Totals().messages, messages.size());
    if (limit < 1400) {
      EXPECT_GT(messages.size(), kRecords * 50 / limit) << "the messages were not filled";
    }
  }
}

// Over UDP the templates go again once the refresh time has passed since
// they last went, at the head of the next message, and not before.
TEST_F(IpfixExporterTest, TemplatesGoAgainWhenTheirRefreshTimeHasPassed) {
  IpfixExportSettings settings;
  settings.templateRefreshMs = 1000;
  IpfixExporter& exporter = Start(settings);
  const struct {
    std::uint32_t tick;
    bool templates;
  } steps[] = {{100000, true}, {100999, false}, {101000, true}, {101500, false}, {102600, true}, {102700, false}};
  std::uint32_t n = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.tick);
    platform::SetTestTickCount(step.tick);
    // Enough to wake the sender at once, and fill several messages.
    for (int i = 0; i < 300; ++i) {
      ++n;
      exporter.ConnectionClosed(Connection(n, n % 2 == 0, false));
    }
    const std::vector<IpfixRead::Message> messages = Receive(300);
    ASSERT_GT(messages.size(), 1u);
    EXPECT_EQ(messages[0].templates, step.templates);
    for (std::size_t i = 1; i < messages.size(); ++i) EXPECT_FALSE(messages[i].templates) << i;
  }
}

// A long connection's records carry what moved since the one before, from
// where that one ended; a report that adds nothing sends nothing; the
// last record says why the connection ended.
TEST_F(IpfixExporterTest, RecordsOfALongConnectionCarryDeltasAndTheirEndReason) {
  IpfixExporter& exporter = Start(IpfixExportSettings());
  ClosedConnection longOne = Connection(1, true, true, 0);
  const struct {
    std::uint64_t bytes, packets;
    std::uint32_t lastSeen;
    bool active;
    CloseReason reason;
  } reports[] = {{1000, 10, 160000, true, CloseReason::kIdle},
                 {1000, 10, 160000, true, CloseReason::kIdle},
                 {4000, 25, 219000, true, CloseReason::kIdle},
                 {4500, 26, 230000, false, CloseReason::kIdle}};
  for (const auto& report : reports) {
    longOne.bytes = report.bytes;
    longOne.packets = report.packets;
    longOne.lastSeen = report.lastSeen;
    longOne.reason = report.reason;
    report.active ? exporter.ConnectionActive(longOne) : exporter.ConnectionClosed(longOne);
  }
  ClosedConnection ended = Connection(2, false, false, 700);
  ended.reason = CloseReason::kEnd;
  exporter.ConnectionClosed(ended);
  platform::SetTestTickCount(240000);
  exporter.Finish();

  std::vector<IpfixRead::Record> records;
  for (const IpfixRead::Message& message : Receive(4))
    records.insert(records.end(), message.records.begin(), message.records.end());
  ASSERT_EQ(records.size(), 4u);
  const struct {
    std::uint64_t octets, packets, reason;
  } expected[] = {{1000, 10, 2}, {3000, 15, 2}, {500, 1, 1}, {700, 8, 4}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(IpfixRead::Number(records[i].at(kOctets)), expected[i].octets);
    EXPECT_EQ(IpfixRead::Number(records[i].at(kPackets)), expected[i].packets);
    EXPECT_EQ(IpfixRead::Number(records[i].at(kEndReason)), expected[i].reason);
  }
  // Milliseconds since the epoch, each span starting where the last ended.
  const auto ms = [&](std::size_t i, std::uint16_t element) { return IpfixRead::Number(records[i].at(element)); };
  EXPECT_EQ(ms(0, kEnd) - ms(0, kStart), 60000u);
  EXPECT_EQ(ms(1, kStart), ms(0, kEnd));
  EXPECT_EQ(ms(2, kStart), ms(1, kEnd));
  EXPECT_EQ(ms(2, kEnd) - ms(2, kStart), 11000u);
  EXPECT_EQ(records[0].count(kProcessId), 1u);
}

// An ICMP connection's "ports" are its type and code, then its checksum: the
// record has the type and code as its destination port and no source port.
TEST_F(IpfixExporterTest, IcmpRecordsCarryTypeAndCodeAsTheirDestinationPort) {
  IpfixExporter& exporter = Start(IpfixExportSettings());
  ClosedConnection echo = Connection(3, false, false);
  echo.endpoints.protocol = 1;
  echo.endpoints.sourcePort = htons(0x0800);
  echo.endpoints.destinationPort = htons(0x1234);
  exporter.ConnectionClosed(echo);
  exporter.Finish();
  const std::vector<IpfixRead::Message> messages = Receive(1);
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_EQ(messages[0].records.size(), 1u);
  EXPECT_EQ(IpfixRead::Number(messages[0].records[0].at(kSourcePort)), 0u);
  EXPECT_EQ(IpfixRead::Number(messages[0].records[0].at(kDestinationPort)), 0x0800u);
}

}  // namespace

namespace {

// Over TCP the messages follow each other in one stream, each framed by
// its length, the templates once at its head.
TEST(IpfixTcpExportTest, MessagesFollowEachOtherInOneStreamWithTheTemplatesOnce) {
  const int listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  IpfixCollector collector;
  collector.protocol = IpfixProtocol::kTcp;
  collector.length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&collector.address), &collector.length);

  constexpr std::uint32_t kRecords = 5000;
  IpfixExportSettings settings;
  settings.maxMessageBytes = IpfixMessageBuilder::kLargestMessage;
  IpfixExporter exporter(collector, settings);
  for (std::uint32_t n = 1; n <= kRecords; ++n) exporter.ConnectionClosed(Connection(n, n % 3 == 0, n % 5 == 0));
  exporter.Finish();
  const int stream = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(stream, 0);
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  for (ssize_t got; (got = recv(stream, chunk, sizeof chunk, 0)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  close(stream);
  close(listener);

  IpfixRead reader;
  std::uint32_t records = 0;
  std::size_t messages = 0;
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const std::size_t length = bytes[at + 2] << 8 | bytes[at + 3];
    ASSERT_LE(at + length, bytes.size()) << "a message cut short";
    const IpfixRead::Message message = reader.Read(bytes.data() + at, length);
    ASSERT_EQ(reader.error, "");
    EXPECT_EQ(message.templates, messages == 0);
    EXPECT_EQ(message.sequence, records);
    records += static_cast<std::uint32_t>(message.records.size());
    ++messages;
    at += length;
  }
  EXPECT_EQ(records, kRecords);
  EXPECT_GT(messages, 1u);
  EXPECT_EQ(exporter.Totals().lostRecords, 0u);
}

}  // namespace

namespace {

// A collector is HOST:PORT, an IPv6 address in brackets, the port a number
// a socket can have.
TEST(IpfixCollectorAddressTest, TakesOnlyWhatNamesOneSocket) {
  const struct {
    const char* text;
    bool taken;
  } cases[] = {{"127.0.0.1:4739", true},  {"[::1]:4739", true},         {"127.0.0.1:65535", true},
               {"127.0.0.1:0", false},    {"127.0.0.1:65536", false},   {"127.0.0.1:99999999999", false},
               {"127.0.0.1:", false},     {"127.0.0.1:47x", false},     {"host", false},
               {"[::1", false},           {"[::1]4739", false},         {"::1:4739", false}};
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ResolveIpfixCollector(c.text, IpfixProtocol::kUdp, error).has_value(), c.taken) << c.text << ": " << error;
  }
}

}  // namespace
