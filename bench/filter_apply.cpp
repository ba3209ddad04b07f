// quorvel_bench_filter_apply DEVICE ROUNDS
//
// How soon a filter applied during a capture is in force. Captures on
// DEVICE while a flood of UDP frames to port 9 arrives (bench/live_flood.sh
// sends it), and applies, through the filter store as the dialog does,
// "udp port 53" (which the flood does not pass) and no filter in turn,
// ROUNDS times each. Prints, in milliseconds, the median and the largest
// of:
//   reply    from Apply to the helper's answer that the filter is installed;
//   last     from Apply to the last flood frame counted after a block;
//   resumed  from Apply to the first flood frame counted after a release.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/capture_session.h"
#include "capture/session_filter_capture.h"
#include "config/settings.h"
#include "filters/filter_manager.h"
#include "filters/filter_rows.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/counting_traffic_display.h"
#include "table/traffic_list.h"

namespace {

using Clock = std::chrono::steady_clock;

// The rows a dialog would hold: none, or one enabled filter.
class Rows : public FilterRows {
 public:
  explicit Rows(std::string filter) : m_filter(std::move(filter)) {}
  void DeleteAllRows() override {}
  void AppendRow(const std::string&, bool) override {}
  int RowCount() const override { return m_filter.empty() ? 0 : 1; }
  std::string RowExpression(int) const override { return m_filter; }
  bool RowEnabled(int) const override { return true; }

 private:
  std::string m_filter;
};

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::pair<double, double> MedianAndLargest(std::vector<double> values) {
  if (values.empty()) return {0, 0};
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.back()};
}

class ApplyDelays {
 public:
  ApplyDelays(CTrafficList& table, CaptureSession& session, CFilterManager& filters)
      : m_table(table), m_session(session), m_filters(filters) {}

  void Round() {
    Apply("udp port 53");
    // The frames read before the filter went in are still counted: the
    // last of them shows when it was in force.
    Watch([this] { return m_replied && Clock::now() - m_lastCount > std::chrono::milliseconds(500); });
    m_last.push_back(Milliseconds(m_lastCount - m_appliedAt));
    Apply("");
    Watch([this] { return m_replied && m_lastCount != m_appliedAt; });
    m_resumed.push_back(Milliseconds(m_lastCount - m_appliedAt));
  }

  void Print() const {
    const auto [replyMedian, replyMax] = MedianAndLargest(m_reply);
    const auto [lastMedian, lastMax] = MedianAndLargest(m_last);
    const auto [resumedMedian, resumedMax] = MedianAndLargest(m_resumed);
    std::printf("rounds=%zu reply_ms=%.2f/%.2f last_ms=%.2f/%.2f resumed_ms=%.2f/%.2f (median/largest)\n",
                m_last.size(), replyMedian, replyMax, lastMedian, lastMax, resumedMedian, resumedMax);
  }

 private:
  std::uint32_t Counted() {
    std::lock_guard lock(m_table.TableLock());
    return m_table.Totals().packets;
  }

  void Apply(const std::string& filter) {
    m_replies = m_session.Health().filterReplies;
    m_count = Counted();
    m_replied = false;
    m_appliedAt = m_lastCount = Clock::now();
    m_filters.RebuildFromList(Rows(filter));
  }

  // Follows the helper's answer and the count until `done`, at most a few
  // seconds.
  template <typename Done>
  void Watch(Done done) {
    while (!done() && Clock::now() - m_appliedAt < std::chrono::seconds(5)) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      const Clock::time_point now = Clock::now();
      if (!m_replied && m_session.Health().filterReplies > m_replies) {
        m_replied = true;
        m_reply.push_back(Milliseconds(now - m_appliedAt));
      }
      const std::uint32_t count = Counted();
      if (count != m_count) m_lastCount = now;
      m_count = count;
    }
  }

  CTrafficList& m_table;
  CaptureSession& m_session;
  CFilterManager& m_filters;
  Clock::time_point m_appliedAt, m_lastCount;
  std::uint64_t m_replies = 0;
  std::uint32_t m_count = 0;
  bool m_replied = false;
  std::vector<double> m_reply, m_last, m_resumed;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quorvel_bench_filter_apply DEVICE ROUNDS\n");
    return 2;
  }
  CSettings settings("/nonexistent/quorvel-bench-filter.dat");
  CTrafficList table(settings);
  CountingTrafficDisplay display;
  table.SetDisplay(&display);
  CNSCashe hostNames;
  CServicesParser services("/nonexistent/services");
  CFilterManager filters("/nonexistent/filters.dat");
  {
    CaptureSession session(table, settings, hostNames, services);
    bool monitoring = false;
    SessionFilterCapture capture(session, [&] { return monitoring; }, [&] { return std::string(argv[1]); });
    filters.SetCapture(&capture);
    session.SetFilters(&filters);
    if (session.StartCapture(argv[1]) != 0) return 1;
    monitoring = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ApplyDelays delays(table, session, filters);
    for (int round = 0; round < std::atoi(argv[2]); ++round) delays.Round();
    session.StopCapture();
    filters.SetCapture(nullptr);
    delays.Print();
  }
  table.SetDisplay(nullptr);
  return 0;
}
