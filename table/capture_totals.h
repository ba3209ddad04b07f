#pragma once

#include <cstdint>

// Capture-wide counters, guarded by the connection table's lock.
struct CaptureTotals {
  std::uint64_t packets = 0;
  std::uint64_t dataBytes = 0;
  std::uint64_t totalBytes = 0;
  // The part of totalBytes that this machine sent: packets from one of its
  // own addresses on the adapter. The rest it received, or saw pass
  // between other hosts.
  std::uint64_t sentBytes = 0;
  std::uint32_t startTick = 0;
  std::uint64_t totalAtLastFullPass = 0;
  std::uint64_t averageRate = 0;  // bytes per second over the whole capture
  std::uint64_t currentRate = 0;  // bytes during the last full-pass interval
};
