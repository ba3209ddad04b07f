// Capture filters on a live capture: real frames on a veth pair between two
// network namespaces the test makes, filtered by the capture helper with
// what the filter store sends it, counted exactly.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "capture/session_filter_capture.h"
#include "filters/filter_manager.h"
#include "filters/filter_store_fakes.h"
#include "filters/filters_file.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/settings_fixture.h"
#include "table/memory_traffic_display.h"
#include "table/traffic_list.h"
#include "test_network.h"

namespace {

using Clock = std::chrono::steady_clock;
using Counts = std::map<int, std::uint32_t>;  // packets by IP protocol

class LiveFilterTest : public SettingsFixture {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
    Settings().idlemsec = 60000;
    m_list.SetDisplay(&m_display);
    m_session.SetFilters(&m_filters);
    m_filters.SetCapture(&m_capture);
  }
  void TearDown() override { Stop(); }

  void Start() { StartOn(m_network.CaptureInterface()); }
  void StartOn(const std::string& device) {
    int result = -1;
    m_network.InCaptureNamespace([&] { result = m_session.StartCapture(device.c_str()); });
    ASSERT_EQ(result, 0);
    m_monitoring = true;
    m_capture.CaptureOpened(device);
  }
  void Stop() {
    m_session.StopCapture();
    m_monitoring = false;
  }

  // The dialog's Apply: the rows become the filters, given to the capture;
  // returns once the capture has answered.
  void ApplyRows(const std::vector<FakeFilterRows::Row>& rows) {
    const std::uint64_t before = m_session.Health().filterReplies;
    m_filters.RebuildFromList(FakeFilterRows(rows));
    ExpectFilterInstalled(before + 1);
  }
  void ExpectFilterInstalled(std::uint64_t replies) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (m_session.Health().filterReplies < replies && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const CaptureHealth health = m_session.Health();
    ASSERT_EQ(health.filterReplies, replies);
    ASSERT_TRUE(health.filterInstalled) << health.filterError;
  }

  // Three TCP, two UDP and two ICMP echo requests, which the capture side
  // answers: 3 + 2 + 4 packets, each counted.
  bool SendMixedTraffic() {
    const std::uint32_t from = m_network.SenderAddress(), to = m_network.CaptureAddress();
    return m_network.Send({RawPacket(IPPROTO_TCP, from, to, 40000, 80, 100), RawPacket(IPPROTO_UDP, from, to, 5353, 53, 60),
                           RawPacket(IPPROTO_TCP, from, to, 40000, 80, 200), RawPacket(IPPROTO_UDP, from, to, 5353, 53, 1000),
                           RawPacket(IPPROTO_TCP, from, to, 40000, 80, 1500), EchoRequest(from, to, 84),
                           EchoRequest(from, to, 84)});
  }
  static Counts Mixed(bool tcp, bool udp, bool icmp, std::uint32_t times = 1) {
    Counts counts;
    if (tcp) counts[IPPROTO_TCP] = 3 * times;
    if (udp) counts[IPPROTO_UDP] = 2 * times;
    if (icmp) counts[IPPROTO_ICMP] = 4 * times;
    return counts;
  }

  // The packets of every connection by protocol, once `total` packets were
  // counted and a little longer, so that one too many would show.
  Counts CountedPackets(std::uint32_t total) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (TotalPackets() < total && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard lock(m_list.TableLock());
    Counts counts;
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) counts[m_list.Entry(i).key.protocol] += m_list.Entry(i).packets;
    return counts;
  }
  std::uint32_t TotalPackets() {
    std::lock_guard lock(m_list.TableLock());
    return m_list.Totals().packets;
  }
  static std::uint32_t Sum(const Counts& counts) {
    std::uint32_t sum = 0;
    for (const auto& [protocol, packets] : counts) sum += packets;
    return sum;
  }

  // The protocols of the rows the list shows, once its passes have run.
  std::set<int> RowProtocols() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard lock(m_list.TableLock());
    std::set<int> protocols;
    for (const MemoryTrafficDisplay::Row& row : m_display.Rows()) protocols.insert(row.endpoints.protocol);
    return protocols;
  }

  TestNetwork m_network;
  CNSCashe m_hostNames;
  CServicesParser m_services{(Folder() / "none").string()};
  MemoryTrafficDisplay m_display;
  CTrafficList m_list{Settings()};
  CaptureSession m_session{m_list, Settings(), m_hostNames, m_services};
  bool m_monitoring = false;
  std::string m_chosenDevice;  // the adapter chosen for the next capture
  SessionFilterCapture m_capture{m_session, [this] { return m_monitoring; }, [this] { return m_chosenDevice; }};
  FiltersFile m_file{Folder()};
  CFilterManager m_filters{m_file.Path()};
};

// What filters.dat holds when monitoring starts is what the capture counts.
TEST_F(LiveFilterTest, TheFileDecidesWhatAStartCounts) {
  const struct {
    const char* file;
    bool filtered;
    Counts counted;
    std::set<int> rows;
  } cases[] = {
      {"+tcp\r\n-udp\r\n", true, Mixed(true, false, false), {IPPROTO_TCP}},
      {"+udp\r\n+icmp\r\n-tcp\r\n", true, Mixed(false, true, true), {IPPROTO_UDP, IPPROTO_ICMP}},
      {"+udp and\r\n+udp port 53\r\n", true, Mixed(false, true, false), {IPPROTO_UDP}},
      {"-tcp\r\n", false, Mixed(true, true, true), {IPPROTO_TCP, IPPROTO_UDP, IPPROTO_ICMP}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    m_file.Write(c.file);
    Start();
    // Frames read before the capture has its filter are not filtered.
    if (c.filtered) ExpectFilterInstalled(1);
    ASSERT_TRUE(SendMixedTraffic());
    EXPECT_EQ(CountedPackets(Sum(c.counted)), c.counted);
    EXPECT_EQ(RowProtocols(), c.rows);
    Stop();
  }
}

// Apply during a capture changes what is counted from then on; with no
// enabled filter left the capture takes everything again.
TEST_F(LiveFilterTest, ApplyDuringACaptureChangesWhatIsCountedFromThenOn) {
  Start();
  ASSERT_TRUE(SendMixedTraffic());
  EXPECT_EQ(CountedPackets(9), Mixed(true, true, true));

  ApplyRows({{"udp", true}, {"tcp", false}});
  ASSERT_TRUE(SendMixedTraffic());
  Counts expected = Mixed(true, true, true);
  expected[IPPROTO_UDP] += 2;
  EXPECT_EQ(CountedPackets(11), expected);

  ApplyRows({{"udp", false}, {"tcp", false}});
  ASSERT_TRUE(SendMixedTraffic());
  EXPECT_EQ(CountedPackets(20), (Counts{{IPPROTO_TCP, 6}, {IPPROTO_UDP, 6}, {IPPROTO_ICMP, 8}}));
}

// A stop empties the store: the next start reads the file again.
TEST_F(LiveFilterTest, StopThenAnEditOfTheFileThenStartUsesTheEditedFile) {
  m_file.Write("+tcp\r\n");
  Start();
  ExpectFilterInstalled(1);
  Stop();
  EXPECT_TRUE(m_filters.Entries().empty());

  m_file.Write("-tcp\r\n+icmp\r\n");
  Start();
  ExpectFilterInstalled(1);
  ASSERT_TRUE(SendMixedTraffic());
  EXPECT_EQ(CountedPackets(4), Mixed(false, false, true));
}

// The "any" adapter hands out frames with a cooked header, not Ethernet:
// once a capture on it has shown that, expressions are checked for it,
// also after the capture, until another adapter is chosen.
TEST_F(LiveFilterTest, ExpressionsAreCheckedForTheChosenAdaptersLinkLayer) {
  const std::string ethernet = "ether host 02:00:00:00:00:01";
  m_chosenDevice = "any";
  EXPECT_EQ(m_filters.Validate(ethernet), "no error") << "not known yet: Ethernet";
  StartOn("any");
  const std::string cooked = m_filters.Validate(ethernet);
  EXPECT_NE(cooked, "no error");
  Stop();
  EXPECT_EQ(m_filters.Validate(ethernet), cooked);
  m_chosenDevice = m_network.CaptureInterface();
  EXPECT_EQ(m_filters.Validate(ethernet), "no error");
}

// Filters given while a flood is read: the capture thread reads on, the
// store and the session are used from this thread only, and the stop is
// clean. Run under ThreadSanitizer this shows any race between them.
TEST_F(LiveFilterTest, ApplyWhileAFloodIsCaptured) {
  Start();
  m_network.StartFlood(RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 7, 9, 256));
  const std::vector<std::vector<FakeFilterRows::Row>> lists = {
      {{"udp port 9", true}}, {{"tcp", true}}, {{"udp port 9", true}, {"icmp", true}}, {}, {{"udp and", true}}};
  std::uint64_t replies = m_session.Health().filterReplies;
  for (int round = 0; round < 40; ++round) {
    m_filters.RebuildFromList(FakeFilterRows(lists[round % lists.size()]));
    ++replies;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ExpectFilterInstalled(replies);
  m_network.StopFlood();
  EXPECT_GT(TotalPackets(), 0u);
  Stop();
  EXPECT_FALSE(m_session.IsRunning());
}

}  // namespace
