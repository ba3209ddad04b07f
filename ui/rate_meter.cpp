#include "ui/rate_meter.h"

#include <algorithm>

namespace {

// Bytes per second, rounded to the nearest.
std::uint64_t PerSecond(std::uint64_t bytes, std::uint64_t milliseconds) {
  return (bytes * 1000 + milliseconds / 2) / milliseconds;
}

}  // namespace

void RateMeter::Restart(std::int64_t nowMs) {
  m_total = m_sent = 0;
  m_at = nowMs;
}

RateSample RateMeter::Sample(std::uint64_t totalBytes, std::uint64_t sentBytes, std::int64_t nowMs) {
  // Counters that went down were reset under us: count from zero.
  if (totalBytes < m_total || sentBytes < m_sent) m_total = m_sent = 0;
  const std::uint64_t sent = sentBytes - m_sent;
  const std::uint64_t total = totalBytes - m_total;
  const std::uint64_t received = total > sent ? total - sent : 0;
  const auto milliseconds = static_cast<std::uint64_t>(std::max<std::int64_t>(nowMs - m_at, 1));
  m_total = totalBytes;
  m_sent = sentBytes;
  m_at = nowMs;
  return {PerSecond(received, milliseconds), PerSecond(sent, milliseconds)};
}
