// Partial passes visit only the entries they can change. Two tables get the
// same packets, passes and user actions; one of them walks every entry in
// every pass. Both lists must get the same row operations in the same
// order, and both tables must end with the same entries and rates.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/tick_count.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/fake_resolver.h"
#include "support/ip_packet.h"
#include "support/sanitizers.h"
#include "support/settings_fixture.h"
#include "table/memory_traffic_display.h"
#include "table/refresh_pass.h"
#include "table/traffic_list.h"

namespace {

struct Pipeline {
  Pipeline(CSettings& settings, CNSCashe& hostNames, CServicesParser& services, bool wholeTable)
      : table(settings), pass(table, settings, hostNames, services, schedule) {
    schedule.running = 1;
    table.SetDisplay(&display);
    display.RecordOperations(true);
    pass.WalkWholeTable(wholeTable);
  }
  ~Pipeline() { table.SetDisplay(nullptr); }

  PassSchedule schedule;
  MemoryTrafficDisplay display;
  CTrafficList table;
  CRefreshPass pass;
};

class PartialPassTest : public SettingsFixture {
 protected:
  ~PartialPassTest() override {
    m_resolver.Release();
    platform::ReleaseTestTickCount();
  }

  // Runs one random session on both pipelines from the given tick.
  void RunSession(unsigned seed, std::uint32_t startTick, int steps) {
    std::mt19937 random(seed);
    std::uint32_t tick = startTick;
    platform::SetTestTickCount(tick);
    Settings().idlemsec = 2000;
    Settings().paused = 0;
    Pipeline whole(Settings(), m_hostNames, m_services, true);
    Pipeline partial(Settings(), m_hostNames, m_services, false);
    Pipeline* both[] = {&whole, &partial};
    for (Pipeline* p : both) p->table.Totals().startTick = tick;
    std::uint32_t nextFullPass = tick + 1000;
    std::uint32_t previousPass = tick;
    for (int step = 0; step < steps; ++step) {
      // Often no time passes at all: packets in the same millisecond as a
      // pass count as its traffic and as the next one's.
      const unsigned dice = random() % 100;
      if (dice < 30) tick += random() % 3 == 0 ? random() % 120 : 0;
      platform::SetTestTickCount(tick);
      if (dice < 60) {
        const IpPacket packet = RandomPacket(random);
        const auto bytes = packet.Bytes();
        for (Pipeline* p : both) p->table.AccountPacket(bytes.data(), bytes.size());
      } else if (dice < 88) {
        const bool full = tick - nextFullPass < 0x80000000u;
        if (full) nextFullPass += 1000;
        // The capture thread counts traffic from the tick it read before the
        // previous pass, which may lie a little before that pass's own.
        const std::uint32_t passStart = tick - (random() % 4 == 0 ? 1 : 0);
        for (Pipeline* p : both) {
          p->schedule.previousPassTick = previousPass;
          p->pass.RefreshPass(full);
        }
        previousPass = passStart;
        ASSERT_EQ(partial.display.Operations(), whole.display.Operations()) << "seed " << seed << " step " << step;
        for (Pipeline* p : both) p->display.ClearOperations();
      } else if (dice < 91) {
        Settings().paused = !Settings().paused;
      } else if (dice < 93) {
        Settings().idlemsec = 300 + random() % 4000;
      } else if (dice < 95) {
        const std::uint8_t protocols[] = {1, 6, 17};
        const std::uint8_t protocol = protocols[random() % 3];
        for (Pipeline* p : both) p->table.RemoveProtocol(protocol);
      } else if (dice < 96) {
        for (Pipeline* p : both) p->table.RemoveAll();
      } else {
        for (Pipeline* p : both) p->display.FailNextInserts(1);
      }
    }
    ExpectSameTables(whole.table, partial.table);
  }

  static IpPacket RandomPacket(std::mt19937& random) {
    IpPacket packet;
    const std::uint32_t n = random() % 300;
    packet.source = 0x0A000000u + n / 3;
    packet.protocol = n % 3 == 0 ? 6 : n % 3 == 1 ? 17 : 1;
    packet.totalLength = static_cast<std::uint16_t>(100 + random() % 1400);
    return packet;
  }

  static void ExpectSameTables(CTrafficList& a, CTrafficList& b) {
    ASSERT_EQ(a.EntryCount(), b.EntryCount());
    for (std::size_t i = 0; i < a.EntryCount(); ++i) {
      const TrafficEntry& x = a.Entry(i);
      const TrafficEntry& y = b.Entry(i);
      EXPECT_EQ(x.key, y.key);
      EXPECT_EQ(x.row, y.row);
      EXPECT_EQ(x.lastSeen, y.lastSeen);
      EXPECT_EQ(x.bytes, y.bytes);
      EXPECT_EQ(x.bytesAtLastFullPass, y.bytesAtLastFullPass);
      EXPECT_EQ(x.packets, y.packets);
    }
    EXPECT_EQ(a.Totals().averageRate, b.Totals().averageRate);
    EXPECT_EQ(a.Totals().currentRate, b.Totals().currentRate);
  }

  FakeResolver m_resolver;
  CNSCashe m_hostNames{m_resolver.AsResolver()};
  CServicesParser m_services{(Folder() / "no-services").string()};
};

TEST_F(PartialPassTest, VisitingOnlyTheDueEntriesMatchesTheWalkOverTheWholeTable) {
  struct Session {
    unsigned seed;
    std::uint32_t startTick;
  };
  // Under the thread sanitizer, which slows each step tenfold and has no
  // threads to watch here but the resolver's, a tenth of the steps.
  const int steps = sanitizers::kThread ? 2000 : 20000;
  // The last one runs across the wrap of the 32-bit tick.
  for (const Session session : {Session{1, 1000}, Session{2, 1000}, Session{3, 1000}, Session{4, 0xFFFFF000u}})
    RunSession(session.seed, session.startTick, steps);
}

// A hide command moves the later entries up: the connections that were new
// before it and after it all get their rows, in table order.
TEST_F(PartialPassTest, NewConnectionsThatAHideCommandMovedUpGetTheirRows) {
  platform::SetTestTickCount(1000);
  Settings().idlemsec = 10000;
  Pipeline partial(Settings(), m_hostNames, m_services, false);
  const auto account = [&](std::uint32_t source, std::uint8_t protocol) {
    IpPacket packet;
    packet.source = source;
    packet.protocol = protocol;
    const auto bytes = packet.Bytes();
    partial.table.AccountPacket(bytes.data(), bytes.size());
  };
  account(0x0A000001u, 6);
  account(0x0A000002u, 17);
  partial.pass.RefreshPass(false);
  platform::SetTestTickCount(1100);
  partial.pass.RefreshPass(false);
  account(0x0A000003u, 6);
  partial.table.RemoveProtocol(17);
  account(0x0A000004u, 6);
  partial.display.ClearOperations();
  platform::SetTestTickCount(1200);
  partial.schedule.previousPassTick = 1100;
  partial.pass.RefreshPass(false);
  std::vector<std::string> inserts;
  for (const std::string& operation : partial.display.Operations())
    if (operation.rfind("insert", 0) == 0) inserts.push_back(operation);
  EXPECT_EQ(inserts, (std::vector<std::string>{"insert 1", "insert 2"}));
  ASSERT_EQ(partial.display.ItemCount(), 3);
  EXPECT_EQ(partial.display.Rows()[1].cells[0], "10.0.0.3");
  EXPECT_EQ(partial.display.Rows()[2].cells[0], "10.0.0.4");
}

}  // namespace
