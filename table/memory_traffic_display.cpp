#include "table/memory_traffic_display.h"

#include <utility>

#include "text/totals_line.h"

int MemoryTrafficDisplay::ItemCount() const { return static_cast<int>(m_rows.size()); }

int MemoryTrafficDisplay::InsertRow(int position, const char* firstColumnText, const TrafficEntry& entry,
                                    const ConnectionEndpoints& endpoints) {
  if (m_failingInserts > 0) {
    --m_failingInserts;
    return -1;
  }
  if (position < 0 || position > ItemCount()) position = ItemCount();
  Row row;
  row.cells[0] = firstColumnText;
  row.itemData = &entry;
  row.endpoints = endpoints;
  m_rows.insert(m_rows.begin() + position, std::move(row));
  if (m_recording) Record("insert " + std::to_string(position));
  return position;
}

void MemoryTrafficDisplay::SetCellText(int row, int column, const char* text) {
  if (row < 0 || row >= ItemCount() || column < 0 || column >= kColumnCount) return;
  m_rows[row].cells[column] = text;
  if (m_recording) Record("set " + std::to_string(row) + " " + std::to_string(column) + " " + text);
}

void MemoryTrafficDisplay::DeleteRow(int row) {
  if (m_recording) Record("delete " + std::to_string(row));
  if (row < 0 || row >= ItemCount()) return;
  m_rows.erase(m_rows.begin() + row);
}

void MemoryTrafficDisplay::DeleteAllRows() {
  if (m_recording) Record("delete all");
  m_rows.clear();
}

bool MemoryTrafficDisplay::WindowExists() const { return m_windowExists; }

void MemoryTrafficDisplay::RedrawAll() {
  ++m_redraws;
  if (m_recording) Record("redraw");
}

void MemoryTrafficDisplay::SetStatusTotals(std::uint64_t packets, std::uint64_t dataBytes,
                                           std::uint64_t totalBytes, int units) {
  char line[kTotalsLineSize];
  FormatTotalsLine(line, packets, dataBytes, totalBytes, units);
  m_statusText = line;
}

void MemoryTrafficDisplay::Record(std::string operation) { m_operations.push_back(std::move(operation)); }
