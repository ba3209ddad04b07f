// Live capture on a veth pair between two network namespaces that the test
// makes: real frames, read through the capture library by the capture
// thread, counted exactly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/capture_session.h"
#include "platform/app_files.h"
#include "platform/user_message.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/child_process.h"
#include "support/fake_resolver.h"
#include "support/ip_packet.h"
#include "support/other_user.h"
#include "support/sanitizers.h"
#include "support/settings_fixture.h"
#include "table/counting_traffic_display.h"
#include "table/traffic_list.h"
#include "test_network.h"

namespace {

using Clock = std::chrono::steady_clock;
using Packets = std::vector<std::vector<std::uint8_t>>;

// Records what the capture side tells the user.
class RecordingSink : public platform::UserMessageSink {
 public:
  void ShowMessage(platform::MessageKind kind, const platform::UserMessage& message) override {
    last = message.Text();
    errors += kind == platform::MessageKind::kError;
  }
  std::atomic<int> errors{0};
  std::string last;  // read once errors has counted it
};

class LiveCaptureTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    Settings().idlemsec = 60000;
    m_list.SetDisplay(&m_display);
  }
  void TearDown() override {
    m_session.StopCapture();
    m_resolver.Release();
  }

  void Start() {
    int result = -1;
    m_network.InCaptureNamespace([&] { result = m_session.StartCapture(m_network.CaptureInterface().c_str()); });
    ASSERT_EQ(result, 0);
  }

  CaptureTotals Totals() {
    std::lock_guard lock(m_list.TableLock());
    return m_list.Totals();
  }

  // Waits until `count` packets were counted, then a little longer so that
  // a packet too many would show.
  CaptureTotals WaitForPackets(std::uint32_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Totals().packets < count && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return Totals();
  }

  const TrafficEntry* FindConnection(std::uint32_t source, std::uint8_t protocol, std::uint16_t destinationPort) {
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
      const TrafficEntry& entry = m_list.Entry(i);
      if (entry.key.sourceAddress == source && entry.key.protocol == protocol &&
          (protocol == IPPROTO_ICMP || entry.key.destinationPort == htons(destinationPort)))
        return &entry;
    }
    return nullptr;
  }

  Packets MixedTraffic() {
    const std::uint32_t from = m_network.SenderAddress(), to = m_network.CaptureAddress();
    return {
        RawPacket(IPPROTO_TCP, from, to, 40000, 80, 100),  RawPacket(IPPROTO_TCP, from, to, 40000, 80, 40),
        RawPacket(IPPROTO_TCP, from, to, 40000, 80, 200),  RawPacket(IPPROTO_UDP, from, to, 5353, 53, 60),
        RawPacket(IPPROTO_TCP, from, to, 40000, 80, 1500), RawPacket(IPPROTO_UDP, from, to, 5353, 53, 1000),
        EchoRequest(from, to, 84),                         EchoRequest(from, to, 84),
    };
  }

  // What MixedTraffic leaves: the bare TCP acknowledgement is not counted,
  // and the capture side answers each echo request: the answers are what
  // this side sent.
  void ExpectMixedTrafficCounted() {
    const CaptureTotals totals = WaitForPackets(9);
    EXPECT_EQ(totals.packets, 9u);
    EXPECT_EQ(totals.totalBytes, 1800u + 1060u + 168u + 168u);
    EXPECT_EQ(totals.dataBytes, 1680u + 1004u + 168u + 168u);
    EXPECT_EQ(totals.sentBytes, 168u);
    std::lock_guard lock(m_list.TableLock());
    ASSERT_EQ(m_list.EntryCount(), 4u);
    const struct {
      std::uint32_t source;
      std::uint8_t protocol;
      std::uint16_t port;
      std::uint32_t bytes, packets;
    } expected[] = {
        {m_network.SenderAddress(), IPPROTO_TCP, 80, 1800, 3},
        {m_network.SenderAddress(), IPPROTO_UDP, 53, 1060, 2},
        {m_network.SenderAddress(), IPPROTO_ICMP, 0, 168, 2},
        {m_network.CaptureAddress(), IPPROTO_ICMP, 0, 168, 2},
    };
    for (const auto& e : expected) {
      const TrafficEntry* entry = FindConnection(e.source, e.protocol, e.port);
      ASSERT_NE(entry, nullptr) << int(e.protocol);
      EXPECT_EQ(entry->bytes, e.bytes) << int(e.protocol);
      EXPECT_EQ(entry->packets, e.packets) << int(e.protocol);
    }
  }

  static std::chrono::milliseconds Timed(const std::function<void()>& body) {
    const auto start = Clock::now();
    body();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }

  TestNetwork m_network;
  FakeResolver m_resolver;  // answers nothing, and holds on when asked to
  CNSCashe m_hostNames{m_resolver.AsResolver()};
  CServicesParser m_services{(Folder() / "none").string()};
  CountingTrafficDisplay m_display;
  CTrafficList m_list{Settings()};
  CaptureSession m_session{m_list, Settings(), m_hostNames, m_services};
};

TEST_F(LiveCaptureTest, CountsEveryConnectionAndTheTotalsExactly) {
  Start();
  ASSERT_TRUE(m_network.Send(MixedTraffic()));
  ExpectMixedTrafficCounted();
  EXPECT_GT(m_display.ItemCount(), 0) << "the passes show the connections";
}

TEST_F(LiveCaptureTest, StopOnAnIdleAdapterThenStartAgain) {
  Start();
  ASSERT_TRUE(m_network.Send(MixedTraffic()));
  WaitForPackets(9);
  EXPECT_LT(Timed([&] { m_session.StopCapture(); }).count(), 500) << "a stop wakes the blocked read";
  EXPECT_FALSE(m_session.IsRunning());
  EXPECT_EQ(Totals().packets, 0u) << "a stop clears the counters";
  EXPECT_EQ(m_list.EntryCount(), 4u) << "the rows stay until the next start";

  Start();
  EXPECT_EQ(m_list.EntryCount(), 0u);
  ASSERT_TRUE(m_network.Send(MixedTraffic()));
  ExpectMixedTrafficCounted();
}

TEST_F(LiveCaptureTest, StopWhileTrafficFlows) {
  Start();
  m_network.StartFlood(RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 7, 9, 512));
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Totals().packets < 1000 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(Totals().packets, 1000u);
  EXPECT_LT(Timed([&] { m_session.StopCapture(); }).count(), 500);
  m_network.StopFlood();
  EXPECT_FALSE(m_session.IsRunning());
}

// A veth link hands every frame to a packet socket whatever its MAC, so
// the setting shows in the link's promiscuous mode, not in what is counted.
TEST_F(LiveCaptureTest, PromiscuousModeFollowsTheSetting) {
  const std::uint32_t from = m_network.SenderAddress();
  const Packets traffic = {RawPacket(IPPROTO_UDP, from, m_network.ForeignAddress(), 1000, 2000, 300),
                           RawPacket(IPPROTO_UDP, from, m_network.CaptureAddress(), 1000, 2000, 100)};
  for (const bool promiscuous : {false, true}) {
    SCOPED_TRACE(promiscuous ? "promiscuous" : "not promiscuous");
    Settings().nopromiscuous = promiscuous ? 0 : 1;
    Start();
    EXPECT_EQ(m_network.CapturePromiscuity(), promiscuous ? 1 : 0);
    ASSERT_TRUE(m_network.Send(traffic));
    const CaptureTotals totals = WaitForPackets(2);
    EXPECT_EQ(totals.totalBytes, 400u) << "a frame for another host is seen";
    EXPECT_EQ(totals.sentBytes, 0u) << "and counts as received";
    m_session.StopCapture();
    EXPECT_EQ(m_network.CapturePromiscuity(), 0);
  }
}

TEST_F(LiveCaptureTest, StopIsPromptInAPassOverAMillionConnectionsWithAHangingResolver) {
  // The thread sanitizer makes a pass over a fifth of them as long as one
  // over a million elsewhere, and this test runs alone.
  const std::uint32_t connections = sanitizers::kThread ? 200000 : 1000000;
  m_resolver.Hold();
  m_hostNames.SetResolve(1);
  Start();
  IpPacket udp;
  udp.protocol = IPPROTO_UDP;
  std::vector<std::uint8_t> packet = udp.Bytes();
  for (std::uint32_t n = 0; n < connections; ++n) {
    const std::uint32_t source = htonl(0x0B000000u + n);
    std::memcpy(&packet[12], &source, 4);
    m_list.AccountPacket(packet.data(), packet.size());
  }
  // Wait until a pass is busy inserting rows, each asking the hanging
  // resolver for a name, then stop in the middle of it.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (m_display.ItemCount() < 1000 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GE(m_display.ItemCount(), 1000);
  EXPECT_LT(Timed([&] { m_session.StopCapture(); }).count(), 500);
  EXPECT_FALSE(m_session.IsRunning());
}

TEST_F(LiveCaptureTest, PassesGoOnOnAnIdleLinkSoConnectionsExpire) {
  Settings().idlemsec = 1000;
  Start();
  ASSERT_TRUE(m_network.Send({RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 1, 2, 100)}));
  WaitForPackets(1);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard lock(m_list.TableLock());
      if (m_list.EntryCount() == 0 && m_list.Totals().currentRate == 0) break;
    }
    ASSERT_LT(Clock::now(), deadline) << "no pass ran on the quiet link";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(m_display.ItemCount(), 0);
}

// A filter the helper cannot compile is answered with the library's text;
// one it can is in force from then on; the counts come once a second.
TEST_F(LiveCaptureTest, FiltersAndCountsThroughTheSession) {
  Start();
  const auto replies = [&](std::uint64_t request) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (m_session.Health().filterReplies < request && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return m_session.Health();
  };
  EXPECT_EQ(m_session.InstallFilter(std::string("udp\0", 4)), 0u) << "a NUL byte is never sent";
  const std::uint64_t bad = m_session.InstallFilter("udp and");
  ASSERT_EQ(bad, 1u);
  CaptureHealth health = replies(bad);
  EXPECT_FALSE(health.filterInstalled);
  EXPECT_EQ(health.filterError, "can't parse filter expression: syntax error");

  const std::uint64_t good = m_session.InstallFilter("udp\nand\r\nport 53");
  ASSERT_EQ(good, 2u);
  health = replies(good);
  EXPECT_TRUE(health.filterInstalled);
  EXPECT_EQ(health.filterError, "");
  ASSERT_TRUE(m_network.Send(MixedTraffic()));
  const CaptureTotals totals = WaitForPackets(2);
  EXPECT_EQ(totals.packets, 2u) << "only the UDP packets to port 53";
  EXPECT_EQ(totals.totalBytes, 1060u);

  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (m_session.Health().received < 2 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  health = m_session.Health();
  EXPECT_GE(health.statsReports, 1u);
  EXPECT_EQ(health.received, 2u) << "the library counts what passed the filter";
  EXPECT_EQ(health.dropped, 0u);
  m_session.StopCapture();
  EXPECT_EQ(m_session.InstallFilter("udp"), 0u) << "nothing to send it to";
}

// An adapter that goes away: the failing reads are reported with the
// library's text, and the capture goes on until it is stopped.
TEST_F(LiveCaptureTest, AdapterThatGoesAwayIsReported) {
  Start();
  ASSERT_TRUE(m_network.RemoveCaptureInterface());
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  // The link may be seen going down ("Network is down") before the read
  // that finds the interface gone.
  while (m_session.Health().adapterError != "The interface disappeared" && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const CaptureHealth health = m_session.Health();
  EXPECT_TRUE(health.adapterFailing);
  EXPECT_EQ(health.adapterError, "The interface disappeared");
  EXPECT_TRUE(m_session.IsRunning());
  EXPECT_FALSE(m_session.EndedUnexpectedly());
  EXPECT_LT(Timed([&] { m_session.StopCapture(); }).count(), 500);
}

// An adapter that is removed and made again: while it is away the health
// says so; once it is back a new helper captures it under the filter asked
// for before, and the counts go on.
TEST_F(LiveCaptureTest, AdapterThatComesBackIsCapturedAgain) {
  const auto waitFor = [&](const std::function<bool(const CaptureHealth&)>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done(m_session.Health()) && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return m_session.Health();
  };
  const Packets traffic = {RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 5, 6, 100),
                           RawPacket(IPPROTO_TCP, m_network.SenderAddress(), m_network.CaptureAddress(), 5, 6, 100)};
  Start();
  ASSERT_EQ(m_session.InstallFilter("udp"), 1u);
  ASSERT_EQ(waitFor([](const CaptureHealth& h) { return h.filterReplies == 1; }).filterInstalled, true);
  ASSERT_TRUE(m_network.Send(traffic));
  EXPECT_EQ(WaitForPackets(1).packets, 1u);
  const pid_t first = m_session.HelperProcessId();

  ASSERT_TRUE(m_network.RemoveCaptureInterface());
  CaptureHealth health = waitFor([](const CaptureHealth& h) { return h.adapterFailing; });
  EXPECT_TRUE(health.adapterFailing);
  EXPECT_FALSE(health.adapterDown);
  EXPECT_EQ(health.adapterError, "The interface disappeared");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // a few tries that find no adapter
  health = m_session.Health();
  EXPECT_TRUE(health.adapterFailing);
  EXPECT_EQ(health.adapterReturns, 0u);
  EXPECT_TRUE(m_session.IsRunning());
  EXPECT_FALSE(m_session.EndedUnexpectedly());

  ASSERT_TRUE(m_network.RestoreCaptureInterface());
  health = waitFor([](const CaptureHealth& h) { return h.adapterReturns == 1; });
  EXPECT_EQ(health.adapterReturns, 1u);
  EXPECT_FALSE(health.adapterFailing);
  EXPECT_EQ(health.adapterError, "");
  EXPECT_GT(m_session.HelperProcessId(), 0);
  EXPECT_NE(m_session.HelperProcessId(), first);
  ASSERT_TRUE(m_network.Send(traffic));
  EXPECT_EQ(WaitForPackets(2).packets, 2u) << "still only UDP, counted on from before";
  health = waitFor([](const CaptureHealth& h) { return h.received >= 2; });
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // one more report, which must not count more
  EXPECT_EQ(m_session.Health().received, 2u) << "the library's counts go on too";
  EXPECT_EQ(health.filterReplies, 1u) << "the filter sent again is no new reply";
  EXPECT_LT(Timed([&] { m_session.StopCapture(); }).count(), 500);
}

// An adapter taken down and brought up again: the same helper reads it on.
TEST_F(LiveCaptureTest, AdapterTakenDownAndUpAgain) {
  Start();
  const pid_t helper = m_session.HelperProcessId();
  ASSERT_TRUE(m_network.SetCaptureInterfaceUp(false));
  auto deadline = Clock::now() + std::chrono::seconds(3);
  while (!m_session.Health().adapterFailing && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  CaptureHealth health = m_session.Health();
  EXPECT_TRUE(health.adapterDown);
  EXPECT_EQ(health.adapterError, "Network is down");

  ASSERT_TRUE(m_network.SetCaptureInterfaceUp(true));
  deadline = Clock::now() + std::chrono::seconds(3);
  while (m_session.Health().adapterFailing && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  health = m_session.Health();
  EXPECT_FALSE(health.adapterFailing);
  EXPECT_EQ(health.adapterReturns, 1u);
  EXPECT_EQ(m_session.HelperProcessId(), helper);
  ASSERT_TRUE(m_network.Send(MixedTraffic()));
  ExpectMixedTrafficCounted();
}

// A kernel buffer far too small for a flood: the kernel drops, and the
// counts say so.
TEST_F(LiveCaptureTest, DropsOfATinyKernelBufferAreCounted) {
  m_session.SetKernelBufferBytes(1);
  Start();
  m_network.StartFlood(RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 7, 9, 512));
  const auto deadline = Clock::now() + std::chrono::seconds(8);
  while (m_session.Health().AllDropped() == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  m_network.StopFlood();
  const CaptureHealth health = m_session.Health();
  EXPECT_GT(health.AllDropped(), 0u);
  EXPECT_GT(health.received, 0u);
}

// The helper ended from outside: the user is told, the session says so,
// and after the stop a new capture runs as before.
TEST_F(LiveCaptureTest, HelperThatDiesEndsTheCaptureAndStartWorksAgain) {
  RecordingSink sink;
  platform::SetUserMessageSink(&sink);
  Start();
  ASSERT_GT(m_session.HelperProcessId(), 0);
  kill(m_session.HelperProcessId(), SIGKILL);
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (!m_session.EndedUnexpectedly() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(m_session.EndedUnexpectedly());
  EXPECT_TRUE(m_session.Health().endedUnexpectedly);
  ASSERT_EQ(sink.errors, 1);
  EXPECT_EQ(sink.last, "抓包已意外停止\r\nError message : quorvel-capture ended");
  EXPECT_EQ(m_session.InstallFilter("udp"), 0u) << "a command to a helper that has gone fails, quietly";
  EXPECT_LT(Timed([&] { m_session.StopCapture(); }).count(), 500);
  EXPECT_EQ(m_session.HelperProcessId(), -1) << "reaped";

  Start();
  EXPECT_FALSE(m_session.EndedUnexpectedly());
  ASSERT_TRUE(m_network.Send(MixedTraffic()));
  ExpectMixedTrafficCounted();
  platform::SetUserMessageSink(nullptr);
}

// Run in a child that gives up root, as a user without the capture
// capabilities would start the monitor.
TEST(CaptureOpenTest, WithoutPermissionTheMessageSaysHowToGrantIt) {
  if (sanitizers::kThread)
    GTEST_SKIP() << "under the thread sanitizer, a child forked from a process with threads may not start threads";
  // The helper beside this test is the one the child starts.
  if (geteuid() == 0)
    if (const std::string why = other_user::WhyOutOfReach(platform::CaptureHelperPath(), 65534); !why.empty())
      GTEST_SKIP() << why << ": the system would refuse to start the helper, not the helper to capture";
  ChildProcess child = ChildProcess::Fork([] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 3;
    RecordingSink sink;
    platform::SetUserMessageSink(&sink);
    CSettings settings("/nonexistent/quorvel-test.dat");
    CTrafficList table(settings);
    CNSCashe hostNames;
    CServicesParser services("/nonexistent/services");
    CaptureSession session(table, settings, hostNames, services);
    const int result = session.OpenAdapter("lo");
    // The grant counts from the helper's next start, which the next Start makes.
    const bool told = sink.errors == 1 && sink.last.rfind("无法启动驱动程序\r\nError message : ", 0) == 0 &&
                      sink.last.find("setcap cap_net_raw=p") != std::string::npos &&
                      sink.last.find("须重新启动") != std::string::npos &&
                      sink.last.find("重新开始监控即可") != std::string::npos;
    platform::SetUserMessageSink(nullptr);
    return result == 1 && told ? 0 : 1;
  });
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
