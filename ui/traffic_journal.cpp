#include "ui/traffic_journal.h"

#include <cstring>
#include <utility>

void JournalBatch::Clear() {
  operations.clear();
  insertedEndpoints.clear();
  constexpr std::size_t kKeptText = std::size_t{1} << 20;
  if (text.capacity() > kKeptText)
    std::string().swap(text);
  else
    text.clear();
  redraw = false;
  hasTotals = false;
}

int CTrafficJournal::ItemCount() const {
  std::lock_guard lock(m_mutex);
  return m_rowCount;
}

void CTrafficJournal::Append(JournalBatch::Kind kind, int row, int column, const char* text) {
  const std::size_t length = text != nullptr ? std::strlen(text) : 0;
  m_batch.operations.push_back({kind, static_cast<std::uint8_t>(column), row,
                                static_cast<std::uint32_t>(m_batch.text.size()),
                                static_cast<std::uint32_t>(length)});
  m_batch.text.append(text != nullptr ? text : "", length);
}

int CTrafficJournal::InsertRow(int position, const char* firstColumnText, const TrafficEntry&,
                               const ConnectionEndpoints& endpoints) {
  std::lock_guard lock(m_mutex);
  if (position < 0 || position > m_rowCount) position = m_rowCount;
  Append(JournalBatch::Kind::kInsert, position, 0, firstColumnText);
  m_batch.insertedEndpoints.push_back(endpoints);
  ++m_rowCount;
  return position;
}

void CTrafficJournal::SetCellText(int row, int column, const char* text) {
  std::lock_guard lock(m_mutex);
  if (row < 0 || row >= m_rowCount || column < 0 || column >= kColumnCount) return;
  Append(JournalBatch::Kind::kSetCell, row, column, text);
}

void CTrafficJournal::DeleteRow(int row) {
  std::lock_guard lock(m_mutex);
  if (row < 0 || row >= m_rowCount) return;
  Append(JournalBatch::Kind::kDelete, row, 0, nullptr);
  --m_rowCount;
}

// Whatever the journal still held about single rows no longer matters.
void CTrafficJournal::DeleteAllRows() {
  std::lock_guard lock(m_mutex);
  m_batch.operations.clear();
  m_batch.insertedEndpoints.clear();
  m_batch.text.clear();
  Append(JournalBatch::Kind::kDeleteAll, 0, 0, nullptr);
  m_rowCount = 0;
}

bool CTrafficJournal::WindowExists() const {
  std::lock_guard lock(m_mutex);
  return m_windowExists;
}

void CTrafficJournal::RedrawAll() {
  std::lock_guard lock(m_mutex);
  m_batch.redraw = true;
}

void CTrafficJournal::SetStatusTotals(std::uint64_t packets, std::uint64_t dataBytes, std::uint64_t totalBytes,
                                      int units) {
  std::lock_guard lock(m_mutex);
  m_batch.hasTotals = true;
  m_batch.totals = {packets, dataBytes, totalBytes, units};
}

void CTrafficJournal::Take(JournalBatch& batch) {
  std::lock_guard lock(m_mutex);
  std::swap(batch, m_batch);
}

void CTrafficJournal::SetWindowGone() {
  std::lock_guard lock(m_mutex);
  m_windowExists = false;
}
