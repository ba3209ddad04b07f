#include "platform/tick_count.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(TickCountTest, TestClockHoldsItsValueUntilReleased) {
  platform::SetTestTickCount(0xFFFFFFF0u);
  EXPECT_EQ(platform::TickCount(), 0xFFFFFFF0u);
  platform::SetTestTickCount(5);
  EXPECT_EQ(platform::TickCount(), 5u);
  platform::ReleaseTestTickCount();
}

TEST(TickCountTest, SystemClockAdvancesInMilliseconds) {
  const std::uint32_t before = platform::TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::uint32_t elapsed = platform::TickCount() - before;
  EXPECT_GE(elapsed, 40u);  // the coarse clock moves in steps of a few ms
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
