#pragma once

#include <array>
#include <string>
#include <vector>

#include "table/traffic_display.h"
#include "table/traffic_entry.h"

// A traffic list kept in memory: the list the tests and the replay tool
// use. It holds what a list control would hold (rows of cell texts, each
// with its item data and a copy of its connection's endpoints, and the status
// text) and can record the row operations it was given.
class MemoryTrafficDisplay : public TrafficDisplay {
 public:
  struct Row {
    std::array<std::string, kColumnCount> cells;
    const TrafficEntry* itemData = nullptr;
    ConnectionEndpoints endpoints;
  };

  int ItemCount() const override;
  int InsertRow(int position, const char* firstColumnText, const TrafficEntry& entry,
                const ConnectionEndpoints& endpoints) override;
  void SetCellText(int row, int column, const char* text) override;
  void DeleteRow(int row) override;
  void DeleteAllRows() override;
  bool WindowExists() const override;
  void RedrawAll() override;
  // Formats the totals line at once, so that a test sees it after every packet.
  void SetStatusTotals(std::uint64_t packets, std::uint64_t dataBytes, std::uint64_t totalBytes,
                       int units) override;

  const std::vector<Row>& Rows() const { return m_rows; }
  const std::string& StatusText() const { return m_statusText; }
  int RedrawCount() const { return m_redraws; }

  // When on, every row operation is appended to Operations() as a short
  // text ("insert 3", "set 3 5 1024", "delete 3", "delete all").
  void RecordOperations(bool on) { m_recording = on; }
  const std::vector<std::string>& Operations() const { return m_operations; }
  void ClearOperations() { m_operations.clear(); }

  // Lets tests act out a list window that is gone or refuses rows.
  void SetWindowExists(bool exists) { m_windowExists = exists; }
  void FailNextInserts(int count) { m_failingInserts = count; }

 private:
  void Record(std::string operation);

  std::vector<Row> m_rows;
  std::string m_statusText;
  std::vector<std::string> m_operations;
  int m_redraws = 0;
  int m_failingInserts = 0;
  bool m_recording = false;
  bool m_windowExists = true;
};
