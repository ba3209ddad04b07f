#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "gui/bridge_fixture.h"
#include "gui/view_fixture.h"
#include "platform/tick_count.h"
#include "table/refresh_pass.h"
#include "ui/command_ids.h"

namespace {

// Ends the process with a message when the test is still running after the
// time limit: a deadlock shows as a failure, not as a hang.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : m_thread([this, limit] {
          std::unique_lock lock(m_mutex);
          if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
            std::fprintf(stderr, "no progress for %lld s: the window and the capture wait for each other\n",
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(m_mutex);
      m_finished = true;
    }
    m_done.notify_all();
    m_thread.join();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_done;
  bool m_finished = false;
  std::thread m_thread;
};

// The capture side at work: packets of a few thousand TCP, UDP and ICMP
// connections accounted in runs, passes that insert, update and expire
// rows, and now and then the table emptied as a new capture does.
class BusyCapture {
 public:
  BusyCapture(CTrafficList& table, CSettings& settings, CNSCashe& names, CServicesParser& services)
      : m_table(table), m_pass(table, settings, names, services, m_schedule) {
    m_schedule.running = 1;
    m_thread = std::thread([this] { Run(); });
  }
  ~BusyCapture() { Stop(); }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  int Rounds() const { return m_rounds; }

 private:
  void Run() {
    std::mt19937 random(7);
    CTrafficList::PacketHead heads[256];
    for (int round = 0; !m_stop; ++round, ++m_rounds) {
      for (CTrafficList::PacketHead& head : heads) {
        const std::uint32_t n = random() % 3000;
        head = CTrafficList::PacketHead{};
        head.totalLength = 512;
        head.key.protocol = n % 3 == 0 ? 6 : n % 3 == 1 ? 17 : 1;
        head.key.sourceAddress = htonl(0x0A000000u | n);
        head.key.destinationAddress = htonl(0x0A000001u);
        head.key.destinationPort = htons(80);
      }
      m_table.AccountPackets(heads, 1 + random() % 256);
      m_pass.RefreshPass(round % 10 == 0);
      m_schedule.previousPassTick = platform::TickCount();
      if (random() % 500 == 0) m_table.RemoveAll();
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    }
  }

  CTrafficList& m_table;
  PassSchedule m_schedule;
  CRefreshPass m_pass;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_rounds{0};
  std::thread m_thread;
};

// While the capture side works the list hard, the user clears it, hides
// and shows protocols and sorts. Nothing waits for ever, and in the end the
// list holds exactly the rows the operations describe, each with its own
// cells.
TEST_F(ViewTest, ListKeepsUpWithABusyCaptureWhileTheUserWorksIt) {
  Watchdog watchdog(std::chrono::seconds(60));
  Settings().idlemsec = 40;  // rows come and go all the time
  OpenWindow();
  MemoryTrafficDisplay expected;
  TeeDisplay both(*Table().Display(), expected);
  Table().SetDisplay(&both);

  BusyCapture capture(Table(), Settings(), nameCache, services);
  std::mt19937 random(11);
  const int commands[] = {ID_EDIT_CLEAR_ALL, ID_HIDE_TCP, ID_HIDE_UDP, ID_HIDE_ICMP, ID_CANCEL_SORT};
  int largest = 0;
  // Long enough for plenty of both sides' work, however slow the machine.
  const auto start = std::chrono::steady_clock::now();
  const auto enough = [&] {
    const auto spent = std::chrono::steady_clock::now() - start;
    return spent > std::chrono::seconds(20) ||
           (spent > std::chrono::milliseconds(2500) && capture.Rounds() > 100 && largest > 50);
  };
  while (!enough()) {
    const unsigned dice = random() % 10;
    if (dice < 5)
      Frame().ExecuteCommand(commands[random() % 5]);
    else
      view->OnColumnClick(static_cast<int>(random() % 9));
    QTest::qWait(static_cast<int>(random() % 40));
    largest = std::max(largest, view->Model().rowCount());
  }
  capture.Stop();
  view->Drain();
  Table().SetDisplay(nullptr);

  EXPECT_GT(capture.Rounds(), 100);
  EXPECT_GT(largest, 50);
  const auto& rows = expected.Rows();
  ASSERT_EQ(view->Model().rowCount(), static_cast<int>(rows.size()));
  std::map<std::pair<std::uint32_t, std::uint8_t>, const MemoryTrafficDisplay::Row*> byConnection;
  for (const auto& row : rows) byConnection[{row.endpoints.source.Ipv4Carried(), row.endpoints.protocol}] = &row;
  for (int i = 0; i < view->Model().rowCount(); ++i) {
    const ConnectionEndpoints& endpoints = view->Model().EndpointsAt(i);
    const auto found = byConnection.find({endpoints.source.Ipv4Carried(), endpoints.protocol});
    ASSERT_NE(found, byConnection.end()) << "row " << i;
    EXPECT_TRUE(SameRow(ModelRow(view->Model(), i), *found->second)) << "row " << i;
  }
}

}  // namespace
