#pragma once

#include <cstdint>

#include "ui/rate_sample.h"

// Turns the capture's running byte counters into the chart's samples, one
// per tick of the window's timer. Each sample holds what the counters grew
// by since the previous one, over the time that really passed: every byte
// reaches exactly one sample, however the timer and the capture's passes
// drift against each other, and a late tick is no higher for being late.
class RateMeter {
 public:
  // The counters start again from zero (a new capture).
  void Restart(std::int64_t nowMs);
  RateSample Sample(std::uint64_t totalBytes, std::uint64_t sentBytes, std::int64_t nowMs);

 private:
  std::uint64_t m_total = 0;
  std::uint64_t m_sent = 0;
  std::int64_t m_at = 0;
};
