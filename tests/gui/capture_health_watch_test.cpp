#include "ui/capture_health_watch.h"

#include <gtest/gtest.h>

namespace {

using Adapter = CaptureHealthWatch::Adapter;
using namespace std::chrono_literals;

// The session's health as it moves on, step by step, with what the window
// shows after each: the drops are highlighted from a report that raised
// them until a report that did not; the adapter is failing while it fails
// and "back" for a while after.
TEST(CaptureHealthWatchTest, FollowsTheReportsOfACapture) {
  const struct {
    const char* step;
    std::uint64_t statsReports, dropped, interfaceDropped;
    bool failing;
    const char* error;
    std::uint64_t returns;
    std::chrono::milliseconds at;
    bool changed;
    std::uint64_t drops;
    bool rising;
    Adapter adapter;
  } steps[] = {
      {"no drops", 1, 0, 0, false, "", 0, 0ms, false, 0, false, Adapter::kFine},
      {"the kernel drops", 2, 40, 0, false, "", 0, 1000ms, true, 40, true, Adapter::kFine},
      {"so does the adapter", 3, 40, 2, false, "", 0, 2000ms, true, 42, true, Adapter::kFine},
      {"no more", 4, 40, 2, false, "", 0, 3000ms, true, 42, false, Adapter::kFine},
      {"same again", 5, 40, 2, false, "", 0, 4000ms, false, 42, false, Adapter::kFine},
      {"removed", 5, 40, 2, true, "The interface disappeared", 0, 4500ms, true, 42, false, Adapter::kFailing},
      {"drops while away", 6, 50, 2, true, "The interface disappeared", 0, 5000ms, true, 52, true,
       Adapter::kFailing},
      {"back", 6, 50, 2, false, "", 1, 6000ms, true, 52, true, Adapter::kBack},
      {"still back", 7, 50, 2, false, "", 1, 10999ms, true, 52, false, Adapter::kBack},
      {"back is old news", 7, 50, 2, false, "", 1, 11000ms, true, 52, false, Adapter::kFine},
      {"down", 7, 50, 2, true, "Network is down", 1, 12000ms, true, 52, false, Adapter::kFailing},
      {"up", 7, 50, 2, false, "", 2, 13000ms, true, 52, false, Adapter::kBack},
  };
  CaptureHealthWatch watch;
  watch.Start();
  const auto start = CaptureHealthWatch::Clock::now();
  CaptureHealth health;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    ++health.generation;
    health.statsReports = s.statsReports;
    health.dropped = s.dropped;
    health.interfaceDropped = s.interfaceDropped;
    health.adapterFailing = s.failing;
    health.adapterError = s.error;
    health.adapterReturns = s.returns;
    EXPECT_EQ(watch.Update(health, start + s.at), s.changed);
    EXPECT_EQ(watch.Drops(), s.drops);
    EXPECT_EQ(watch.DropsRising(), s.rising);
    EXPECT_EQ(watch.AdapterState(), s.adapter);
    EXPECT_EQ(watch.AdapterError(), s.error);
  }

  watch.End();
  EXPECT_EQ(watch.Drops(), 52u) << "the count of the capture stays";
  EXPECT_FALSE(watch.DropsRising());
  EXPECT_EQ(watch.AdapterState(), Adapter::kFine);
  health.dropped = 90;
  ++health.statsReports;
  EXPECT_FALSE(watch.Update(health, start + 14s)) << "an ended capture is not watched";

  watch.Start();
  EXPECT_EQ(watch.Drops(), 0u);
  health = CaptureHealth();
  health.generation = 40;  // a new capture's health, counting from nothing
  EXPECT_FALSE(watch.Update(health, start + 15s));
}

// The log's lost records stand out for a second after each rise; the
// count of a capture stays once it ended, and a new one starts from none.
TEST(CaptureHealthWatchTest, LostLogRecordsStandOutForAWhileAfterEachRise) {
  const struct {
    const char* step;
    std::uint64_t lost;
    std::chrono::milliseconds at;
    bool changed, rising;
  } steps[] = {
      {"none", 0, 0ms, false, false},      {"first", 5, 100ms, true, true},
      {"same", 5, 1099ms, false, true},    {"quiet", 5, 1100ms, true, false},
      {"more", 9, 2000ms, true, true},     {"more again", 12, 2500ms, true, true},
      {"quiet again", 12, 3500ms, true, false},
  };
  CaptureHealthWatch watch;
  watch.Start();
  const auto start = CaptureHealthWatch::Clock::now();
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    EXPECT_EQ(watch.UpdateLogLoss(s.lost, start + s.at), s.changed);
    EXPECT_EQ(watch.LogLoss(), s.lost);
    EXPECT_EQ(watch.LogLossRising(), s.rising);
  }
  EXPECT_TRUE(watch.UpdateLogLoss(13, start + 4s));
  watch.End();
  EXPECT_EQ(watch.LogLoss(), 13u);
  EXPECT_FALSE(watch.LogLossRising());
  EXPECT_FALSE(watch.UpdateLogLoss(20, start + 5s)) << "an ended capture is not watched";
  watch.Start();
  EXPECT_EQ(watch.LogLoss(), 0u);
}

}  // namespace
