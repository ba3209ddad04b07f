#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "source/helper_reports.h"

// What the window says of a capture's health, worked out from the
// session's reports as they come: the packets lost since Start, whether
// that count still rises, and the state of the adapter.
class CaptureHealthWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // How long "the adapter is back" stays up.
  static constexpr std::chrono::milliseconds kBackShown{5000};
  // How long a rise of the packet log's lost records stays highlighted.
  static constexpr std::chrono::milliseconds kLogLossShown{1000};

  enum class Adapter { kFine, kFailing, kBack };

  // A capture starts: nothing lost, nothing wrong.
  void Start();
  // The capture ended: the count stays, it rises no more, and the adapter
  // is no longer watched.
  void End();
  // Takes the session's latest health; true when what is shown changed.
  bool Update(const CaptureHealth& health, Clock::time_point now);
  // Takes the packet log's count of records lost since Start (its writer
  // fell behind the capture); true when what is shown changed.
  bool UpdateLogLoss(std::uint64_t lost, Clock::time_point now);

  std::uint64_t Drops() const { return m_drops; }
  // The last count the helper reported was higher than the one before.
  bool DropsRising() const { return m_rising; }
  std::uint64_t LogLoss() const { return m_logLoss; }
  // The count rose less than kLogLossShown ago.
  bool LogLossRising() const { return m_logLossRising; }
  Adapter AdapterState() const { return m_adapter; }
  // The library's text while the adapter is failing.
  const std::string& AdapterError() const { return m_error; }

 private:
  bool m_running = false;
  std::uint64_t m_generation = 0;
  std::uint64_t m_statsReports = 0;
  std::uint64_t m_drops = 0;
  bool m_rising = false;
  std::uint64_t m_returns = 0;
  Clock::time_point m_backUntil;
  bool m_failing = false;
  Adapter m_adapter = Adapter::kFine;
  std::string m_error;
  std::uint64_t m_logLoss = 0;
  Clock::time_point m_logLossRoseUntil;
  bool m_logLossRising = false;
};
