#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "log/packet_log_file.h"

// Writes the packet log on a thread of its own, so that a disk that stalls
// (a network share, a USB stick pulled halfway) never holds up the capture:
// the capture thread copies each formatted record into a bounded buffer
// and goes on, and the writer hands them to the file in order, whole
// records at a time, as soon as it has them: on a quiet link a record is
// in the file a nap of the writer (20 ms) after it was put in, and under a
// flood the writes grow to many records each.
//
// Every record put in is either written whole or counted as lost, in the
// counter given: a record that finds the buffer full, those a write error
// (a full disk) kept out of the file, those still waiting when Close gave
// up on a writer that stalls.
//
// Records are put in by one thread at a time (the capture thread, under
// the table lock); SwitchTo and SetSizeLimit come from threads that hold
// the same lock, so they fall in order between records.
class PacketLogWriter {
 public:
  using Counter = std::atomic<std::uint64_t>;
  class ThreadEnd;

  static constexpr std::size_t kBufferBytes = std::size_t{32} << 20;
  // Close waits while the writer gets on, but gives up on one that wrote
  // nothing for kCloseStallMs, and on any after kCloseLongestMs; from
  // kCloseLongestMs - kCloseLastRecordMs on, the writer only finishes the
  // record it is in the middle of.
  static constexpr int kCloseStallMs = 200;
  static constexpr int kCloseLongestMs = 1000;
  static constexpr int kCloseLastRecordMs = 200;

  // Starts the thread; throws std::system_error when it cannot. The thread
  // writes nothing before the thread of `previous` (the end of the writer
  // before, null: none) has ended, so that a writer stuck in the system is
  // never joined by another.
  PacketLogWriter(std::unique_ptr<PacketLogFile> file, std::uint64_t sizeLimit, std::shared_ptr<Counter> lost,
                  std::shared_ptr<ThreadEnd> previous);
  // Closes as Close does.
  ~PacketLogWriter();
  PacketLogWriter(const PacketLogWriter&) = delete;
  PacketLogWriter& operator=(const PacketLogWriter&) = delete;

  // One record, in as many pieces as it takes.
  void BeginRecord();
  void Append(const void* bytes, std::size_t count);
  // False when the record did not fit into the buffer and was dropped.
  bool EndRecord();

  // The records put in from now on go to `file`; the previous file is
  // closed once the records before them are written.
  void SwitchTo(std::unique_ptr<PacketLogFile> file);
  // A file that has grown past `bytes` starts afresh before its next record.
  void SetSizeLimit(std::uint64_t bytes);

  // Writes what the buffer holds and closes the file, waiting no longer
  // than said above. A writer given up writes nothing more; one stuck in
  // the system ends, with its file and its buffer, once the system lets it
  // go. Later calls do nothing.
  void Close();

  // When the thread ends, for the writer after this one.
  std::shared_ptr<ThreadEnd> End() const;

 private:
  struct Shared;
  bool Reserve(std::size_t count);
  void WakeWriterWhenDue();

  std::shared_ptr<Shared> m_shared;  // also the thread's, which may outlive this
  // The putting thread's own view of the buffer.
  std::uint64_t m_published = 0;      // bytes handed to the writer
  std::uint64_t m_cursor = 0;         // the end of the record being put in
  std::uint64_t m_takenSeen = 0;      // the writer's progress when last asked
  std::uint64_t m_publishedRecords = 0;
  bool m_recordFits = true;
  bool m_closed = false;
};
