#pragma once

#include <atomic>
#include <cstdint>

#include "table/traffic_display.h"

// A list that keeps only its row count and the packet total: for running
// the capture engine where nobody looks at the rows (the replay tool, the
// benchmarks, tests), so that the figures are the engine's own. Another
// thread may read the counts while the capture writes them.
class CountingTrafficDisplay : public TrafficDisplay {
 public:
  int ItemCount() const override { return m_rows; }
  int InsertRow(int, const char*, const TrafficEntry&, const ConnectionEndpoints&) override { return m_rows++; }
  void SetCellText(int, int, const char*) override {}
  void DeleteRow(int) override { --m_rows; }
  void DeleteAllRows() override { m_rows = 0; }
  bool WindowExists() const override { return true; }
  void RedrawAll() override {}
  void SetStatusTotals(std::uint64_t packets, std::uint64_t, std::uint64_t, int) override { m_packets = packets; }

  std::uint64_t Packets() const { return m_packets; }

 private:
  std::atomic<int> m_rows{0};
  std::atomic<std::uint64_t> m_packets{0};
};
