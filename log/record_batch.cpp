#include "log/record_batch.h"

#include <cerrno>
#include <climits>

#include "log/packet_log_file.h"

RecordBatch::RecordBatch(std::size_t capacity)
    : m_bytes(std::make_unique_for_overwrite<char[]>(capacity)), m_capacity(capacity) {}

// A record larger than the batch comes alone, into a batch made for it.
char* RecordBatch::Add(std::size_t length) {
  if (m_used + length > m_capacity) {
    m_bytes = std::make_unique_for_overwrite<char[]>(length);
    m_capacity = length;
  }
  char* at = m_bytes.get() + m_used;
  m_used += length;
  m_recordEnds.push_back(m_used);
  return at;
}

// A record longer than PIPE_BUF goes to a pipe in as many writes as it
// takes.
std::size_t RecordBatch::NextWriteLength(const PacketLogFile& file) const {
  if (!file.IsPipe()) return Pending();
  std::size_t end = m_written;
  for (std::size_t i = m_recordsWritten; i < m_recordEnds.size() && m_recordEnds[i] - m_written <= PIPE_BUF; ++i)
    end = m_recordEnds[i];
  return end > m_written ? end - m_written : Pending();
}

ssize_t RecordBatch::WriteTo(PacketLogFile& file) {
  const ssize_t taken = file.Write(m_bytes.get() + m_written, NextWriteLength(file));
  if (taken < 0) return -1;
  if (taken == 0) {  // took nothing, and said no reason: it never will
    errno = EIO;
    return -1;
  }
  m_written += static_cast<std::size_t>(taken);
  ssize_t completed = 0;
  for (; m_recordsWritten < m_recordEnds.size() && m_recordEnds[m_recordsWritten] <= m_written; ++m_recordsWritten)
    ++completed;
  if (Empty()) Reset();
  return completed;
}

bool RecordBatch::BetweenRecords() const {
  return m_written == (m_recordsWritten == 0 ? 0 : m_recordEnds[m_recordsWritten - 1]);
}

std::size_t RecordBatch::Drop(PacketLogFile& file) {
  const std::size_t recordStart = m_recordsWritten == 0 ? 0 : m_recordEnds[m_recordsWritten - 1];
  if (m_written > recordStart) file.TakeBack(m_written - recordStart);
  const std::size_t dropped = m_recordEnds.size() - m_recordsWritten;
  Reset();
  return dropped;
}

void RecordBatch::Reset() {
  m_used = m_written = m_recordsWritten = 0;
  m_recordEnds.clear();
}
