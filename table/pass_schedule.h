#pragma once

#include <atomic>
#include <cstdint>

// The state the capture thread and the refresh pass share about when passes
// run and whether the capture is still meant to go on.
struct PassSchedule {
  // 1 while the capture thread is meant to run. Written by the
  // user-interface thread, polled by the capture thread and the pass.
  std::atomic<std::int32_t> running{0};
  // When the next full pass is due; advances in steps of exactly 1000 ms so
  // that full passes keep a one-second grid.
  std::uint32_t nextFullPassTick = 0;
  // The tick read just before the most recent pass, full or partial. Not
  // reset by a new capture.
  std::uint32_t previousPassTick = 0;
};
