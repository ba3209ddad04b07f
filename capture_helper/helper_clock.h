#pragma once

#include <time.h>

#include <cstdint>

// Milliseconds of the monotonic clock: the helper's deadlines and periods.
inline std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
