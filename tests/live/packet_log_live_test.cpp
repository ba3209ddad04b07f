// The packet log during a live capture on the test's own veth pair: the
// capture start opens it, every counted frame leaves its record, the stop
// closes it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "capture/packet_log.h"
#include "capture/settings_fixture.h"
#include "capture/traffic_list.h"
#include "platform/local_time.h"
#include "platform/user_message.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "test_network.h"

namespace {

using Packet = std::vector<std::uint8_t>;

class RecordingSink : public platform::UserMessageSink {
 public:
  void ShowMessage(platform::MessageKind, const std::string& text) override { messages.push_back(text); }
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

  TestNetwork m_network;
  RecordingSink m_sink;
  CNSCashe m_hostNames;
  CServicesParser m_services{(Folder() / "none").string()};
  CTrafficList m_list{Settings()};
  CPacketLog m_log{Settings(), m_list};
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

  std::ifstream in(Folder() / "live.log", std::ios::binary);
  const std::string log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

}  // namespace
