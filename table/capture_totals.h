#pragma once

#include <cstdint>

// Capture-wide counters, guarded by the connection table's lock. All of
// them wrap modulo 2^32.
struct CaptureTotals {
  std::uint32_t packets = 0;
  std::uint32_t dataBytes = 0;
  std::uint32_t totalBytes = 0;
  std::uint32_t startTick = 0;
  std::uint32_t totalAtLastFullPass = 0;
  std::uint32_t averageRate = 0;  // bytes per second over the whole capture
  std::uint32_t currentRate = 0;  // bytes during the last full-pass interval
};
