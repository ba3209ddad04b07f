// The packet log during a live capture on the test's own veth pair: the
// capture start opens it, every counted frame leaves its record, the stop
// closes it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "log/packet_log.h"
#include "platform/local_time.h"
#include "platform/user_message.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/settings_fixture.h"
#include "table/traffic_list.h"
#include "test_network.h"

namespace {

using Packet = std::vector<std::uint8_t>;

class LogMessageSink : public platform::UserMessageSink {
 public:
  void ShowMessage(platform::MessageKind, const platform::UserMessage& message) override {
    messages.push_back(message.Text());
  }
  std::vector<std::string> messages;
};

std::string DottedAt(const Packet& p, std::size_t offset) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &p[offset], text, sizeof text);
  return text;
}

// The CSV + hex record of a packet as it was sent, at the test's clock.
std::string CsvHexRecord(const Packet& p, const char* protocol, unsigned headerLength) {
  char line[128];
  std::snprintf(line, sizeof line, "2021.05.06;13:45:07.083;%s;%zu;%s;%d;%s;%d;", protocol,
                p.size() - headerLength, DottedAt(p, 12).c_str(), p[20] * 256 + p[21], DottedAt(p, 16).c_str(),
                p[22] * 256 + p[23]);
  std::string record = line;
  for (std::size_t i = headerLength; i < p.size(); ++i) {
    std::snprintf(line, sizeof line, "%02x ", p[i]);
    record += line;
  }
  return record + "\r\n";
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// UDP packets numbered by their source port, sent one by one from a thread
// of their own, a little apart, so that the capture is busy reading while
// the test changes the log. Sent() counts those that have left.
class NumberedTraffic {
 public:
  static constexpr std::uint16_t kFirstPort = 10000;

  NumberedTraffic(TestNetwork& network, std::uint32_t count) : m_socket(network.SenderSocket()) {
    for (std::uint32_t i = 0; i < count; ++i)
      m_packets.push_back(RawPacket(IPPROTO_UDP, network.SenderAddress(), network.CaptureAddress(),
                                    static_cast<std::uint16_t>(kFirstPort + i), 53, 60));
    m_thread = std::thread([this] { SendAll(); });
  }
  ~NumberedTraffic() { Finish(); }

  std::uint32_t Sent() const { return m_sent; }
  void WaitUntilSent(std::uint32_t count) const {
    while (m_sent < count && !m_failed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // True when every packet left.
  bool Finish() {
    if (m_thread.joinable()) m_thread.join();
    if (m_socket >= 0) close(m_socket);
    m_socket = -1;
    return !m_failed && m_sent == m_packets.size();
  }

  // The numbers of the packets in the CSV records of a log, in their order.
  static std::vector<std::uint32_t> NumbersIn(const std::string& log) {
    std::vector<std::uint32_t> numbers;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string field;
      for (int i = 0; i < 6 && std::getline(fields, field, ';'); ++i) {}
      // The capture side may answer one with an ICMP error, which is counted too.
      if (line.find(";UDP;") == std::string::npos || !line.ends_with(";53\r")) continue;
      numbers.push_back(static_cast<std::uint32_t>(std::stoul(field) - kFirstPort));
    }
    return numbers;
  }

 private:
  void SendAll() {
    for (const Packet& packet : m_packets) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      std::memcpy(&to.sin_addr, &packet[16], 4);
      if (sendto(m_socket, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        m_failed = true;
        return;
      }
      ++m_sent;
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  }

  int m_socket;
  std::vector<Packet> m_packets;
  std::atomic<std::uint32_t> m_sent{0};
  std::atomic<bool> m_failed{false};
  std::thread m_thread;
};

std::vector<std::uint32_t> Sequence(std::uint32_t first, std::uint32_t end) {
  std::vector<std::uint32_t> numbers;
  for (std::uint32_t i = first; i < end; ++i) numbers.push_back(i);
  return numbers;
}

class PacketLogLiveTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    platform::SetTestLocalTime({2021, 5, 6, 4, 13, 45, 7, 83});
    platform::SetUserMessageSink(&m_sink);
    Settings().uselogfile = 1;
    Settings().logtype = 8;
    SetLogPath(Folder() / "live.log");
    m_list.SetPacketLog(&m_log);
    m_session.SetPacketLog(&m_log);
  }
  void TearDown() override {
    m_session.StopCapture();
    platform::SetUserMessageSink(nullptr);
    platform::ReleaseTestLocalTime();
  }

  void SetLogPath(const std::filesystem::path& path) {
    std::strncpy(Settings().logfile, path.string().c_str(), sizeof Settings().logfile - 1);
  }

  void Start() {
    int result = -1;
    m_network.InCaptureNamespace([&] { result = m_session.StartCapture(m_network.CaptureInterface().c_str()); });
    ASSERT_EQ(result, 0);
  }

  // Waits until `count` packets were counted, then a little longer so that
  // a packet too many would show.
  std::uint32_t WaitForPackets(std::uint32_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto counted = [this] {
      std::lock_guard lock(m_list.TableLock());
      return m_list.Totals().packets;
    };
    while (counted() < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return counted();
  }

  Packet Tcp(std::uint16_t totalLength) {
    return RawPacket(IPPROTO_TCP, m_network.SenderAddress(), m_network.CaptureAddress(), 40000, 80, totalLength);
  }
  Packet Udp(std::uint16_t totalLength) {
    return RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 5353, 53, totalLength);
  }

  // Sends numbered packets while the capture runs and changes the log to
  // `path` a third of the way. Returns how many had left when the change
  // was made: every packet after them was read after it.
  std::uint32_t ChangeLogDuringTraffic(const std::filesystem::path& path) {
    Start();
    NumberedTraffic traffic(m_network, kNumberedPackets);
    traffic.WaitUntilSent(kNumberedPackets / 3);
    EXPECT_EQ(m_log.ReplaceLog(path.string().c_str(), true), 0);
    const std::uint32_t sentBeforeChange = traffic.Sent();
    EXPECT_TRUE(traffic.Finish());
    EXPECT_GE(WaitForPackets(kNumberedPackets), kNumberedPackets);
    m_session.StopCapture();
    return sentBeforeChange;
  }

  static constexpr std::uint32_t kNumberedPackets = 6000;
  TestNetwork m_network;
  LogMessageSink m_sink;
  CNSCashe m_hostNames;
  CServicesParser m_services{(Folder() / "none").string()};
  CTrafficList m_list{Settings()};
  CPacketLog m_log{Settings(), m_list.TableLock()};
  CaptureSession m_session{m_list, Settings(), m_hostNames, m_services};
};

TEST_F(PacketLogLiveTest, EveryCountedFrameLeavesItsRecord) {
  Packet tcp = Tcp(100);
  for (std::size_t i = 40; i < tcp.size(); ++i) tcp[i] = static_cast<std::uint8_t>(i * 7);
  Packet udp = Udp(60);
  const std::uint8_t awkward[] = {0x0A, 0x0D, 0x00, 0x09, 0xFF, 0x80};
  std::memcpy(&udp[28], awkward, sizeof awkward);
  const Packet bareAck = Tcp(40);  // not counted, so not logged
  const Packet large = Udp(1400);

  Start();
  ASSERT_TRUE(m_network.Send({tcp, bareAck, udp, large}));
  EXPECT_EQ(WaitForPackets(3), 3u);
  m_session.StopCapture();

  const std::string log = ReadFile(Folder() / "live.log");
  EXPECT_EQ(log, CsvHexRecord(tcp, "TCP", 40) + CsvHexRecord(udp, "UDP", 28) + CsvHexRecord(large, "UDP", 28));
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(PacketLogLiveTest, LogThatCannotBeOpenedLeavesTheCaptureRunning) {
  SetLogPath(Folder() / "missing" / "live.log");
  Start();
  ASSERT_TRUE(m_network.Send({Tcp(100), Udp(60)}));
  EXPECT_EQ(WaitForPackets(2), 2u);
  m_session.StopCapture();
  Start();  // logging is off now: no second warning
  m_session.StopCapture();

  EXPECT_EQ(m_sink.messages.size(), 1u);
  EXPECT_EQ(Settings().uselogfile, 0);
  EXPECT_FALSE(m_log.IsOpen());
}

// A log switched on in the middle of a capture gets every frame read after
// the switch, however busy the capture thread is reading: a packet sent
// after the switch returned is always in it, and from its first record on
// no counted packet is missing.
TEST_F(PacketLogLiveTest, LogSwitchedOnDuringACaptureGetsEveryPacketFromThenOn) {
  Settings().uselogfile = 0;
  Settings().logtype = 7;
  const std::filesystem::path switchedOn = Folder() / "switched-on.log";
  const std::uint32_t sentBeforeSwitch = ChangeLogDuringTraffic(switchedOn);

  const std::vector<std::uint32_t> logged = NumberedTraffic::NumbersIn(ReadFile(switchedOn));
  ASSERT_FALSE(logged.empty());
  EXPECT_LE(logged.front(), sentBeforeSwitch + 1);
  EXPECT_EQ(logged, Sequence(logged.front(), kNumberedPackets));
}

// A log replaced during a capture: the old file holds every packet up to
// the switch and is complete once closed; the new one every packet after
// it, none twice and none missing.
TEST_F(PacketLogLiveTest, LogReplacedDuringACaptureSplitsThePacketsBetweenTheFiles) {
  Settings().logtype = 7;
  const std::filesystem::path next = Folder() / "next.log";
  const std::uint32_t sentBeforeSwitch = ChangeLogDuringTraffic(next);

  const std::vector<std::uint32_t> before = NumberedTraffic::NumbersIn(ReadFile(Folder() / "live.log"));
  const std::vector<std::uint32_t> after = NumberedTraffic::NumbersIn(ReadFile(next));
  ASSERT_FALSE(after.empty());
  EXPECT_LE(after.front(), sentBeforeSwitch + 1);
  EXPECT_EQ(before, Sequence(0, after.front()));
  EXPECT_EQ(after, Sequence(after.front(), kNumberedPackets));
  EXPECT_EQ(Settings().logfile, next.string());
}

}  // namespace
