#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "log/packet_log_file.h"

// Writes the packet log on a thread of its own, so that a disk that stalls
// (a network share, a USB stick pulled halfway) never holds up the capture:
// the capture thread copies each formatted record into a bounded buffer
// and goes on, and the writer hands them to the file in order. A record
// that finds the buffer full is dropped: EndRecord says so, and the caller
// counts it.
//
// Records are put in by one thread at a time (the capture thread, under
// the table lock); SwitchTo and SetSizeLimit come from threads that hold
// the same lock, so they fall in order between records.
class PacketLogWriter {
 public:
  static constexpr std::size_t kBufferBytes = std::size_t{32} << 20;
  // Close waits while the writer gets on, but gives up on one that wrote
  // nothing for kCloseStallMs, and on any after kCloseLongestMs.
  static constexpr int kCloseStallMs = 200;
  static constexpr int kCloseLongestMs = 1000;

  // Starts the thread; throws std::system_error when it cannot.
  explicit PacketLogWriter(std::unique_ptr<PacketLogFile> file, std::uint64_t sizeLimit);
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
  // than said above; a writer stuck in the system is left to finish on its
  // own, with its file. Returns the records that were not written. Later
  // calls return 0.
  std::uint64_t Close();

 private:
  struct Shared;
  bool Reserve(std::size_t count);
  void WakeWriterWhenDue();

  std::shared_ptr<Shared> m_shared;  // also the thread's, which may outlive this
  // The putting thread's own view of the buffer.
  std::uint64_t m_published = 0;      // bytes handed to the writer
  std::uint64_t m_cursor = 0;         // the end of the record being put in
  std::uint64_t m_writtenSeen = 0;    // the writer's progress when last asked
  std::uint64_t m_publishedRecords = 0;
  bool m_recordFits = true;
  bool m_closed = false;
};
