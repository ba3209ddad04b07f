#include "table/refresh_pass.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "packet/ip_address.h"
#include "platform/tick_count.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/fake_resolver.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/settings_fixture.h"
#include "table/connection_owner.h"
#include "table/memory_traffic_display.h"
#include "table/traffic_list.h"

namespace {

using Operations = std::vector<std::string>;

class RefreshPassTest : public SettingsFixture {
 protected:
  RefreshPassTest() {
    Settings().idlemsec = 10000;
    m_schedule.running = 1;
    Clock(1000);
    m_list.Totals().startTick = 1000;
    m_list.SetDisplay(&m_display);
    m_display.RecordOperations(true);
  }
  ~RefreshPassTest() override {
    m_resolver.Release();
    platform::ReleaseTestTickCount();
  }

  void Clock(std::uint32_t tick) { platform::SetTestTickCount(tick); }

  template <typename Packet>  // IpPacket or Ip6Packet
  void Account(const Packet& packet) {
    const auto bytes = packet.Bytes();
    m_list.AccountPacket(bytes.data(), bytes.size());
  }

  // Runs a pass the way the capture thread does, remembering its tick.
  Operations Pass(bool full) {
    m_display.ClearOperations();
    m_pass.RefreshPass(full);
    m_schedule.previousPassTick = platform::TickCount();
    return m_display.Operations();
  }

  static IpPacket Connection(int n) {
    IpPacket packet;
    packet.source = 0x0A000000u + static_cast<std::uint32_t>(n);
    return packet;
  }

  void ExpectRowsMatchEntries() {
    ASSERT_EQ(static_cast<std::size_t>(m_display.ItemCount()), m_list.EntryCount());
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) {
      EXPECT_EQ(m_list.Entry(i).row, static_cast<int>(i));
      EXPECT_EQ(m_display.Rows()[i].itemData, &m_list.Entry(i));
    }
  }

  FakeResolver m_resolver;
  CNSCashe m_hostNames{m_resolver.AsResolver()};
  CServicesParser m_services{(Folder() / "no-services").string()};
  PassSchedule m_schedule;
  MemoryTrafficDisplay m_display;
  CTrafficList m_list{Settings()};
  CRefreshPass m_pass{m_list, Settings(), m_hostNames, m_services, m_schedule};
};

TEST_F(RefreshPassTest, NewRowGetsItsFirstColumnsInOrderAndTheOthersPassByPass) {
  IpPacket packet;
  packet.totalLength = 1500;
  Account(packet);
  Clock(1050);
  EXPECT_EQ(Pass(false), (Operations{"insert 0", "set 0 2 10.0.0.2", "set 0 4 TCP", "set 0 5 1500",
                                     "set 0 1 1024", "set 0 3 80", "redraw"}));
  EXPECT_EQ(m_display.Rows()[0].cells[0], "10.0.0.1");
  EXPECT_EQ(m_display.Rows()[0].endpoints, m_list.EndpointsOf(m_list.Entry(0).key));

  Clock(1200);
  EXPECT_EQ(Pass(false), Operations{}) << "no traffic since the last pass";
  Account(packet);
  Clock(1250);
  EXPECT_EQ(Pass(false), (Operations{"set 0 5 3000", "set 0 6 2"}));

  Clock(2100);
  EXPECT_EQ(Pass(true), (Operations{"set 0 7 3000"})) << "the first speed covers everything so far";
  Clock(2150);
  Account(packet);  // the connection now spans 1.15 s
  Clock(3100);
  EXPECT_EQ(Pass(true), (Operations{"set 0 5 4500", "set 0 6 3", "set 0 7 1500", "set 0 8 4500"}));
  Clock(4100);
  EXPECT_EQ(Pass(true), (Operations{"set 0 7 0", "set 0 8 4500"}))
      << "a quiet second: speed 0, the average keeps covering first to last packet";
}

TEST_F(RefreshPassTest, AverageSpeedNeedsAWholeSecondOfActivity) {
  struct Case {
    std::uint32_t lastPacket;
    const char* averageCell;
  };
  for (const Case c : {Case{1999, ""}, Case{2000, "200"}}) {
    m_list.RemoveAll();
    Clock(1000);
    Account(IpPacket{});
    Pass(false);
    Clock(c.lastPacket);
    Account(IpPacket{});
    Clock(2500);
    Pass(true);
    EXPECT_EQ(m_display.Rows()[0].cells[8], c.averageCell) << c.lastPacket;
  }
}

TEST_F(RefreshPassTest, IdleConnectionLeavesOneMillisecondAfterTheLimit) {
  Account(IpPacket{});
  Pass(false);
  Clock(1000 + 10000);
  Pass(true);
  EXPECT_EQ(m_list.EntryCount(), 1u);
  Clock(1000 + 10001);
  EXPECT_EQ(Pass(false), Operations{"delete 0"});
  EXPECT_EQ(m_list.EntryCount(), 0u);
  EXPECT_EQ(m_display.ItemCount(), 0);
}

TEST_F(RefreshPassTest, RowsAreRenumberedAfterSeveralRemovalsInOnePass) {
  for (int n = 0; n < 8; ++n) Account(Connection(n));
  Pass(false);
  Clock(9000);
  for (int n : {1, 3, 4, 6, 7}) Account(Connection(n));  // 0, 2 and 5 stay idle
  Clock(11500);
  Operations deletions;
  for (const std::string& operation : Pass(true))
    if (operation.rfind("delete", 0) == 0) deletions.push_back(operation);
  EXPECT_EQ(deletions, (Operations{"delete 0", "delete 1", "delete 3"}));
  ExpectRowsMatchEntries();
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i)
    EXPECT_EQ(m_display.Rows()[i].endpoints, m_list.EndpointsOf(m_list.Entry(i).key));
}

// Paused for 3 s with a pass every 100 ms, as a busy link makes them: the
// pause shows nothing, and its time never counts as idle time.
TEST_F(RefreshPassTest, PausedTimeNeverCountsAsIdleTime) {
  Account(Connection(0));
  Account(Connection(1));
  Pass(false);
  Clock(5500);
  Pass(false);
  Account(Connection(2));  // no row yet when the pause begins
  Settings().paused = 1;
  for (std::uint32_t tick = 5600; tick <= 8500; tick += 100) {
    if (tick == 7100) {  // a known connection goes on counting
      Clock(7050);
      Account(Connection(1));
    }
    Clock(tick);
    EXPECT_EQ(Pass(tick % 1000 == 0), Operations{}) << "nothing is shown while paused, at " << tick;
  }
  EXPECT_EQ(m_display.ItemCount(), 2);
  EXPECT_EQ(m_list.Totals().averageRate, 400u / 7) << "the rates go on";

  Settings().paused = 0;
  Clock(8700);
  EXPECT_EQ(Pass(false), (Operations{"set 1 5 200", "set 1 6 2", "insert 2", "set 2 2 10.0.0.2", "set 2 4 TCP",
                                     "set 2 5 100", "set 2 1 1024", "set 2 3 80"}))
      << "the rows of before the pause stay, and show what was counted while paused";

  // Connection 0 was idle 4.5 s before the pause: it leaves 5.5 s after
  // it. Connection 2, new just before the pause, and connection 1, with a
  // packet during it, count as last seen at its end.
  struct Step {
    std::uint32_t tick;
    std::size_t entriesLeft;
  };
  for (const Step step : {Step{14000, 3}, Step{14001, 2}, Step{18500, 2}, Step{18501, 0}}) {
    Clock(step.tick);
    Pass(false);
    EXPECT_EQ(m_list.EntryCount(), step.entriesLeft) << step.tick;
  }
}

// A flow of 1000 bytes a second, paused for 10 s: the first speed after
// the pause is its last second's bytes, not the whole pause's, whether the
// pause ends at a full pass or between two.
TEST_F(RefreshPassTest, SpeedAfterAPauseCoversOneSecond) {
  for (const std::uint32_t resumeAt : {14000u, 13500u}) {
    SCOPED_TRACE(resumeAt);
    m_list.RemoveAll();
    IpPacket packet;
    packet.totalLength = 1000;
    Clock(1000);
    Account(packet);
    Pass(false);
    Clock(2000);
    Pass(true);
    Settings().paused = 1;
    for (std::uint32_t tick = 2500; tick <= 14000; tick += 500) {
      Clock(tick);
      if (tick == resumeAt) Settings().paused = 0;
      if (tick % 1000 == 500) Account(packet);
      Pass(tick % 1000 == 0);
    }
    EXPECT_EQ(m_display.Rows()[0].cells[7], "1000");
    EXPECT_EQ(m_display.Rows()[0].cells[5], "13000") << "the pause's bytes count in the traffic";
  }
}

// The current rate is what the last full-pass interval counted; what this
// machine's own addresses sent is counted apart.
TEST_F(RefreshPassTest, CaptureWideRates) {
  IpPacket packet;
  packet.totalLength = 1000;
  IpPacket reply = packet;
  std::swap(reply.source, reply.destination);
  reply.totalLength = 300;
  m_list.SetLocalAddresses({IpAddress::Ipv4(htonl(reply.source))});
  Account(packet);
  Clock(1999);
  Pass(true);
  EXPECT_EQ(m_list.Totals().averageRate, 0u) << "during the first second";
  EXPECT_EQ(m_list.Totals().currentRate, 1000u);
  EXPECT_EQ(m_list.Totals().sentBytes, 0u);
  Account(packet);
  Account(packet);
  Account(reply);
  Clock(3000);
  Pass(false);
  EXPECT_EQ(m_list.Totals().averageRate, 1650u);
  EXPECT_EQ(m_list.Totals().currentRate, 1000u) << "partial passes leave the current rate";
  Pass(true);
  EXPECT_EQ(m_list.Totals().currentRate, 2300u);
  EXPECT_EQ(m_list.Totals().sentBytes, 300u);
  Account(reply);
  Clock(4000);
  Pass(true);
  EXPECT_EQ(m_list.Totals().currentRate, 300u);
  EXPECT_EQ(m_list.Totals().sentBytes, 600u);
}

// A list that asks the capture to stop while a pass is writing into it.
class StoppingDisplay : public MemoryTrafficDisplay {
 public:
  PassSchedule* schedule = nullptr;
  int stopAfterDeletions = -1;
  void DeleteRow(int row) override {
    MemoryTrafficDisplay::DeleteRow(row);
    if (--stopAfterDeletions == 0) schedule->running = 0;
  }
};

TEST_F(RefreshPassTest, StopEndsThePassAtTheNextEntryWithRowsStillMatched) {
  StoppingDisplay display;
  display.schedule = &m_schedule;
  m_list.SetDisplay(&display);
  for (int n = 0; n < 6; ++n) Account(Connection(n));
  m_pass.RefreshPass(false);
  Clock(9000);
  for (int n : {2, 3, 4, 5}) Account(Connection(n));
  m_list.Totals().averageRate = 77;
  Clock(11500);
  display.stopAfterDeletions = 1;  // entries 0 and 1 are idle: stop after the first goes
  m_pass.RefreshPass(true);

  EXPECT_EQ(m_list.EntryCount(), 5u) << "entry 1 is not reached";
  EXPECT_EQ(m_list.Totals().averageRate, 77u) << "rates stay as the previous pass left them";
  for (std::size_t i = 0; i < m_list.EntryCount(); ++i)
    EXPECT_EQ(display.Rows()[m_list.Entry(i).row].itemData, &m_list.Entry(i));
  m_list.SetDisplay(&m_display);
}

TEST_F(RefreshPassTest, FailedInsertIsTriedAgainAtTheNextPass) {
  Account(Connection(0));
  m_display.FailNextInserts(1);
  EXPECT_EQ(Pass(false), Operations{"redraw"});
  EXPECT_LT(m_list.Entry(0).row, 0);
  Account(Connection(1));
  Pass(false);
  ExpectRowsMatchEntries();
}

TEST_F(RefreshPassTest, PortsShowServiceNamesWhenSwitchedOn) {
  {
    std::ofstream file(Folder() / "services");
    file << "http 80/tcp\n";
  }
  CServicesParser services((Folder() / "services").string());
  services.SetResolve(1);
  CRefreshPass pass(m_list, Settings(), m_hostNames, services, m_schedule);
  Account(IpPacket{});
  pass.RefreshPass(false);
  EXPECT_EQ(m_display.Rows()[0].cells[3], "http");
  EXPECT_EQ(m_display.Rows()[0].cells[1], "1024");
}

TEST_F(RefreshPassTest, ARowGetsItsLateHostNameOnce) {
  for (const std::uint32_t address : {0x0A000001u, 0x0A000002u}) m_resolver.Name(htonl(address), "host.example");
  m_resolver.Hold();
  Account(Connection(0));
  Clock(1050);
  Pass(false);  // inserted while resolution is off: keeps its dotted text
  m_hostNames.SetResolve(1);
  Account(Connection(1));
  Clock(1100);
  Pass(false);
  EXPECT_EQ(m_display.Rows()[1].cells[0], "10.0.0.1");

  const std::uint64_t before = m_hostNames.NamesGeneration();
  m_resolver.Release();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (m_hostNames.NamesGeneration() < before + 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  Clock(1200);
  const Operations operations = Pass(false);
  EXPECT_EQ(std::count(operations.begin(), operations.end(), "set 1 0 host.example"), 1);
  EXPECT_EQ(std::count(operations.begin(), operations.end(), "set 1 2 host.example"), 1);
  EXPECT_EQ(m_display.Rows()[0].cells[0], "10.0.0.0") << "resolution was off when it went in";
  Clock(1300);
  EXPECT_EQ(Pass(false), Operations{}) << "once only";
}

// A name that arrives while paused is put in by the first pass after the pause.
TEST_F(RefreshPassTest, ALateHostNameArrivingWhilePausedReachesItsRow) {
  m_resolver.Name(htonl(0x0A000001u), "host.example");
  m_resolver.Hold();
  m_hostNames.SetResolve(1);
  Account(Connection(1));
  Clock(1050);
  Pass(false);
  Settings().paused = 1;
  const std::uint64_t before = m_hostNames.NamesGeneration();
  m_resolver.Release();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (m_hostNames.NamesGeneration() == before && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Clock(2000);
  EXPECT_EQ(Pass(false), Operations{});

  Settings().paused = 0;
  Clock(2100);
  EXPECT_EQ(Pass(false), Operations{"set 0 0 host.example"});
}

// An IPv6 row is named as an IPv4 row is: its numbers first, a name once it
// comes, and a failed lookup leaves the number.
TEST_F(RefreshPassTest, AnIpv6RowGetsItsLateHostNameOnce) {
  Ip6Packet packet;
  packet.source = "2001:db8::1";
  packet.destination = "2001:db8:0:0:1:0:0:2";
  std::uint8_t bytes[16];
  Ip6Packet::PutAddress(bytes, packet.source);
  const IpAddress source = IpAddress::Ipv6(bytes);
  Ip6Packet::PutAddress(bytes, packet.destination);
  const IpAddress destination = IpAddress::Ipv6(bytes);
  m_resolver.Name(source, "v6host.example");  // the destination has no name
  m_resolver.Hold();
  m_hostNames.SetResolve(1);
  Account(IpPacket{});  // an IPv4 row before it: the IPv6 one is row 1
  Account(packet);
  Clock(1050);
  Pass(false);
  EXPECT_EQ(m_display.Rows()[1].cells[0], "2001:db8::1");
  EXPECT_EQ(m_display.Rows()[1].cells[2], "2001:db8::1:0:0:2");

  m_resolver.Release();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((m_hostNames.Find(source) == nullptr || m_hostNames.Find(destination) == nullptr) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Clock(1100);
  EXPECT_EQ(Pass(false), Operations{"set 1 0 v6host.example"});
  Clock(1200);
  EXPECT_EQ(Pass(false), Operations{}) << "once only";
}

// Owners known by the source port of a connection's first packet; a test
// makes more known and moves the generation on, as the refresher's thread
// would.
class FakeOwners : public OwnerLookup {
 public:
  bool Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const override {
    ++finds;
    for (const auto& [port, known] : byPort)
      if (connection.sourcePort == htons(port)) {
        owner = known;
        return true;
      }
    return false;
  }
  std::uint64_t Generation() const override { return generation; }
  void WantOwners() override { ++wanted; }

  void Know(std::uint16_t port, std::int32_t pid, const char* program, const char* user) {
    ConnectionOwner owner;
    owner.pid = pid;
    std::snprintf(owner.program, sizeof owner.program, "%s", program);
    owner.uidKnown = user != nullptr;
    if (user != nullptr) std::snprintf(owner.user, sizeof owner.user, "%s", user);
    byPort.emplace_back(port, owner);
    ++generation;
  }

  std::vector<std::pair<std::uint16_t, ConnectionOwner>> byPort;
  std::uint64_t generation = 0;
  mutable int finds = 0;
  int wanted = 0;
};

// A row shows its owner from the pass that finds it, empty until then;
// the rows that wait are asked for again only when the owners changed,
// and only until their patience runs out.
TEST_F(RefreshPassTest, RowsShowTheirOwnersOnceKnownAndNeverAGuess) {
  FakeOwners owners;
  owners.Know(1000, 4242, "curl", "alice");
  owners.Know(1001, 0, "", "bob");  // a process of another user: the user alone
  m_pass.SetOwners(&owners);
  for (const std::uint16_t port : {1000, 1001, 1002, 1003}) {
    IpPacket packet;
    packet.sourcePort = port;
    Account(packet);
  }
  Clock(1050);
  const Operations inserted = Pass(false);
  EXPECT_EQ(std::count(inserted.begin(), inserted.end(), "set 0 9 curl (4242)"), 1);
  EXPECT_EQ(std::count(inserted.begin(), inserted.end(), "set 0 10 alice"), 1);
  EXPECT_EQ(std::count(inserted.begin(), inserted.end(), "set 1 10 bob"), 1);
  EXPECT_EQ(m_display.Rows()[1].cells[9], "");
  EXPECT_EQ(m_display.Rows()[2].cells[9], "");
  EXPECT_EQ(owners.wanted, 2) << "each row still unknown asks once";

  Clock(1200);
  const int findsBefore = owners.finds;
  Pass(false);
  EXPECT_EQ(owners.finds, findsBefore) << "nothing new known: not asked again";

  owners.Know(1002, 77, "server", "carol");
  Clock(1300);
  EXPECT_EQ(Pass(false), (Operations{"set 2 9 server (77)", "set 2 10 carol"}));
  EXPECT_EQ(m_display.Rows()[3].cells[9], "");

  Clock(1000 + CRefreshPass::kOwnerPatienceMs);
  owners.Know(1003, 78, "late", "dave");
  EXPECT_EQ(Pass(false), Operations{}) << "too late: a row that waited that long stays empty";
  owners.Know(1004, 79, "other", "erin");
  Clock(1100 + CRefreshPass::kOwnerPatienceMs);
  Pass(false);
  EXPECT_EQ(m_display.Rows()[3].cells[9], "");
}

// What leaves the table reaches the sink once, with the figures it had and
// why it left: hidden, idle, cleared or stopped; an owner the row showed
// goes with it.
TEST_F(RefreshPassTest, ConnectionsLeaveForTheSinkWithTheirFiguresOwnerAndReason) {
  struct Sink : ClosedConnectionSink {
    void ConnectionClosed(const ClosedConnection& connection) override { closed.push_back(connection); }
    std::vector<ClosedConnection> closed;
  } sink;
  m_list.SetClosedSink(&sink);
  FakeOwners owners;
  owners.Know(1000, 4242, "curl", "alice");
  m_pass.SetOwners(&owners);
  IpPacket tcp;
  tcp.sourcePort = 1000;
  tcp.totalLength = 100;
  IpPacket icmp;
  icmp.protocol = 1;
  Ip6Packet udp6;
  udp6.protocol = 17;
  Account(tcp);
  Account(icmp);
  Account(udp6);
  Clock(1050);
  Pass(false);
  Clock(1500);
  Account(tcp);

  m_list.RemoveProtocol(1);
  ASSERT_EQ(sink.closed.size(), 1u);
  EXPECT_EQ(sink.closed[0].reason, CloseReason::kHidden);
  EXPECT_EQ(sink.closed[0].endpoints.protocol, 1);

  Clock(1400 + 10000);
  Account(udp6);  // keeps it
  Clock(1501 + 10000);
  Pass(true);
  ASSERT_EQ(sink.closed.size(), 2u);
  const ClosedConnection& idle = sink.closed[1];
  EXPECT_EQ(idle.reason, CloseReason::kIdle);
  EXPECT_EQ(idle.endpoints.protocol, 6);
  EXPECT_EQ(idle.endpoints.sourcePort, htons(1000));
  EXPECT_EQ(idle.bytes, 200u);
  EXPECT_EQ(idle.packets, 2u);
  EXPECT_EQ(idle.firstSeen, 1000u);
  EXPECT_EQ(idle.lastSeen, 1500u);
  EXPECT_EQ(idle.closedAt, 11501u);
  EXPECT_EQ(idle.owner.pid, 4242);
  EXPECT_STREQ(idle.owner.user, "alice");
  EXPECT_EQ(m_display.ItemCount(), 1) << "its row went too";

  m_list.RemoveAll();
  ASSERT_EQ(sink.closed.size(), 3u);
  EXPECT_EQ(sink.closed[2].reason, CloseReason::kCleared);
  char text[IpAddress::kTextSize];
  EXPECT_STREQ(FormatIpAddress(sink.closed[2].endpoints.source, text), "2001:db8::1");
  EXPECT_EQ(sink.closed[2].packets, 2u);
  EXPECT_FALSE(sink.closed[2].owner.Known());

  Account(icmp);
  m_list.RemoveAll(CloseReason::kStopped);
  ASSERT_EQ(sink.closed.size(), 4u);
  EXPECT_EQ(sink.closed[3].reason, CloseReason::kStopped);
  EXPECT_STREQ(CloseReasonName(sink.closed[3].reason), "stopped");

  Account(icmp);
  m_list.SetClosedSink(nullptr);
  m_list.RemoveAll();
  EXPECT_EQ(sink.closed.size(), 4u) << "no sink: nobody hears";
}


// Each whole interval of a connection's age brings one report, at the
// first full pass after it, with the figures so far; partial passes report
// nothing, and intervals that ended between the same two full passes make
// one report.
TEST_F(RefreshPassTest, LongConnectionsAreReportedOnceForEachIntervalOfTheirAge) {
  struct Sink : ActiveConnectionSink {
    void ConnectionActive(const ClosedConnection& connection) override { reported.push_back(connection); }
    std::vector<ClosedConnection> reported;
  } sink;
  Settings().idlemsec = 100000;
  m_list.SetActiveSink(&sink, 5000);
  Account(Connection(1));  // first seen at 1000
  Clock(3000);
  Account(Connection(3));
  struct Step {
    std::uint32_t tick;
    bool full;
    std::vector<std::uint32_t> reportedSources;  // in table order
  };
  const Step steps[] = {
      {3500, true, {}},           {5999, true, {}}, {6000, false, {}},
      {6200, true, {0x0A000001}}, {7000, true, {}}, {8500, true, {0x0A000003}},
      {9000, true, {}},           {16500, true, {0x0A000001, 0x0A000003}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.tick);
    Clock(step.tick);
    Account(Connection(1));
    sink.reported.clear();
    Pass(step.full);
    std::vector<std::uint32_t> sources;
    for (const ClosedConnection& report : sink.reported) {
      sources.push_back(ntohl(report.endpoints.source.Ipv4Carried()));
      EXPECT_EQ(report.closedAt, step.tick);
    }
    EXPECT_EQ(sources, step.reportedSources);
    if (!sink.reported.empty() && sources[0] == 0x0A000001) {
      EXPECT_EQ(sink.reported[0].firstSeen, 1000u);
      EXPECT_EQ(sink.reported[0].lastSeen, step.tick);
      EXPECT_EQ(sink.reported[0].packets, m_list.Entry(0).packets);
    }
  }
  m_list.SetActiveSink(nullptr, 0);
  Clock(30000);
  Pass(true);
  EXPECT_EQ(sink.reported.size(), 2u) << "no sink: nobody hears";
}

}  // namespace
