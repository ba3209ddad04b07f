#include "platform/tick_count.h"

#include <atomic>
#include <ctime>

namespace platform {
namespace {

std::atomic<bool> g_testClockSet{false};
std::atomic<std::uint32_t> g_testTicks{0};

}  // namespace

std::uint32_t TickCount() {
  if (g_testClockSet.load(std::memory_order_acquire))
    return g_testTicks.load(std::memory_order_relaxed);
  // The coarse clock ticks every few milliseconds and costs a fraction of
  // the precise one; it is read for every captured packet.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void SetTestTickCount(std::uint32_t ticks) {
  g_testTicks.store(ticks, std::memory_order_relaxed);
  g_testClockSet.store(true, std::memory_order_release);
}

void ReleaseTestTickCount() { g_testClockSet.store(false, std::memory_order_release); }

}  // namespace platform
