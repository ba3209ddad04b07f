#include "platform/local_time.h"

#include <atomic>
#include <ctime>
#include <mutex>

namespace platform {
namespace {

std::atomic<bool> g_testClockSet{false};
std::mutex g_testTimeLock;
LocalTime g_testTime;

LocalTime TestLocalTime() {
  std::lock_guard lock(g_testTimeLock);
  return g_testTime;
}

}  // namespace

LocalTime GetLocalTime() {
  if (g_testClockSet.load(std::memory_order_acquire)) return TestLocalTime();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  localtime_r(&now.tv_sec, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.dayOfWeek = parts.tm_wday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

void SetTestLocalTime(const LocalTime& time) {
  {
    std::lock_guard lock(g_testTimeLock);
    g_testTime = time;
  }
  g_testClockSet.store(true, std::memory_order_release);
}

void ReleaseTestLocalTime() { g_testClockSet.store(false, std::memory_order_release); }

}  // namespace platform
