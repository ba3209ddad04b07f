#pragma once

#include <string>

#include "capture/traffic_display.h"

// A list that keeps only its row count and the status text: for running
// the capture engine where nobody looks at the rows (the replay tool, the
// benchmarks), so that the figures are the engine's own.
class CountingTrafficDisplay : public TrafficDisplay {
 public:
  int ItemCount() const override { return m_rows; }
  int InsertRow(int, const char*, const TrafficEntry&) override { return m_rows++; }
  void SetCellText(int, int, const char*) override {}
  void DeleteRow(int) override { --m_rows; }
  void DeleteAllRows() override { m_rows = 0; }
  bool WindowExists() const override { return true; }
  void RedrawAll() override {}
  void SetStatusText(const char* text) override { m_statusText = text; }

  const std::string& StatusText() const { return m_statusText; }

 private:
  int m_rows = 0;
  std::string m_statusText;
};
