#include "ui/capture_health_watch.h"

#include <tuple>

void CaptureHealthWatch::Start() {
  *this = CaptureHealthWatch();
  m_running = true;
}

void CaptureHealthWatch::End() {
  m_running = false;
  m_rising = false;
  m_logLossRising = false;
  m_failing = false;
  m_adapter = Adapter::kFine;
  m_error.clear();
}

// The health of a capture starts from nothing, so every count and
// number in it only grows while the capture runs.
bool CaptureHealthWatch::Update(const CaptureHealth& health, Clock::time_point now) {
  if (!m_running) return false;
  const auto shown = std::make_tuple(m_drops, m_rising, m_adapter, m_error);
  if (health.generation != m_generation) {
    m_generation = health.generation;
    if (health.statsReports != m_statsReports) {
      m_statsReports = health.statsReports;
      m_rising = health.AllDropped() > m_drops;
      m_drops = health.AllDropped();
    }
    if (health.adapterReturns != m_returns) {
      m_returns = health.adapterReturns;
      m_backUntil = now + kBackShown;
    }
    m_failing = health.adapterFailing;
    m_error = health.adapterFailing ? health.adapterError : std::string();
  }
  m_adapter = m_failing ? Adapter::kFailing : now < m_backUntil ? Adapter::kBack : Adapter::kFine;
  return shown != std::make_tuple(m_drops, m_rising, m_adapter, m_error);
}

bool CaptureHealthWatch::UpdateLogLoss(std::uint64_t lost, Clock::time_point now) {
  if (!m_running) return false;
  const auto shown = std::make_tuple(m_logLoss, m_logLossRising);
  if (lost != m_logLoss) {
    m_logLoss = lost;
    m_logLossRoseUntil = now + kLogLossShown;
  }
  m_logLossRising = now < m_logLossRoseUntil;
  return shown != std::make_tuple(m_logLoss, m_logLossRising);
}
