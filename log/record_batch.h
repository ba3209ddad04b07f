#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <vector>

class PacketLogFile;

// Whole records on their way from the log writer's buffer to the file,
// handed over in as few write(2) calls as the file allows. Where each
// record ends is kept, so that a write that the file cut short is known to
// have ended after a record or inside one, and the records it took whole
// are counted.
class RecordBatch {
 public:
  explicit RecordBatch(std::size_t capacity);

  // Nothing waits to be written.
  bool Empty() const { return m_written == m_used; }
  // The bytes that wait.
  std::size_t Pending() const { return m_used - m_written; }
  // Whether a record of `length` bytes goes in now; any record goes into an
  // empty batch.
  bool Fits(std::size_t length) const { return m_used == 0 || m_used + length <= m_capacity; }
  // Where the record of `length` bytes goes; Fits said it does.
  char* Add(std::size_t length);

  // Hands what waits to `file` in one write(2): the records that it
  // completed, or -1 with errno set. A pipe is handed whole records of up
  // to PIPE_BUF bytes in all, which it takes whole or not at all, so that a
  // reader that stops reading for good never finds a record cut short.
  ssize_t WriteTo(PacketLogFile& file);
  // Whether what was written so far ends with a whole record.
  bool BetweenRecords() const;
  // Gives up the records not written whole, taking back from the file the
  // part of one that was written, where the file allows. Returns how many.
  std::size_t Drop(PacketLogFile& file);

 private:
  std::size_t NextWriteLength(const PacketLogFile& file) const;
  void Reset();

  std::unique_ptr<char[]> m_bytes;
  std::size_t m_capacity;
  std::size_t m_used = 0;
  std::size_t m_written = 0;
  std::vector<std::size_t> m_recordEnds;  // offsets just past each record
  std::size_t m_recordsWritten = 0;       // of m_recordEnds
};
