#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/export_format.h"
#include "table/closed_connection.h"

// Writes every connection that leaves the table as one line of a file, in
// the order they left, each line handed to the system whole as soon as it
// is made, so that `tail -f` and log shippers see it within moments. A
// thread of its own formats and writes: the table's caller only copies the
// connection, and never waits for the disk while a capture runs.
class CClosedConnectionStream final : public ClosedConnectionSink {
 public:
  // Connections that wait for the writer beyond this are counted as lost,
  // not kept: a disk that stalls never costs unbounded memory.
  static constexpr std::size_t kMostWaiting = std::size_t{1} << 18;
  // At the end of a run, how long a reader that stopped reading (a pipe, a
  // FIFO) or a stalled disk may hold up the last lines: then they are
  // counted as lost and the run ends.
  static constexpr std::chrono::seconds kEndPatience{5};

  CClosedConnectionStream(ExportFormat format, ExportColumns columns);
  ~CClosedConnectionStream() override;
  CClosedConnectionStream(const CClosedConnectionStream&) = delete;
  CClosedConnectionStream& operator=(const CClosedConnectionStream&) = delete;

  // Opens `path` to append to (created with mode 0644; a link, FIFO or
  // device planted by another user in a shared folder is refused) and
  // starts the writer. False with the reason in `error`.
  bool Open(const std::string& path, std::string& error);
  void ConnectionClosed(const ClosedConnection& connection) override;
  // From now on a full queue makes ConnectionClosed wait for room instead
  // of losing the connection: for the end of a run, when no capture waits.
  // It waits kEndPatience at most, in all, as Close does.
  void WaitForRoomFromNowOn();
  // Writes everything that waits, then ends the writer and the file.
  void Close();

  std::uint64_t Written() const;
  // Connections that did not fit the queue or could not be written.
  std::uint64_t Lost() const;
  // Why the last write failed; empty when none did.
  std::string WriteError() const;

 private:
  using Clock = std::chrono::steady_clock;

  void WriteLoop();
  void WriteAll(const std::string& text, std::size_t lines);
  void CountCutShort(const std::string& text, std::size_t done, std::size_t lines, const std::string& reason);
  // Waits until the file takes more bytes; false once the end's patience
  // has run out.
  bool WaitUntilWritable();
  void StartEnding();

  const ExportFormat m_format;
  const ExportColumns m_columns;
  int m_fd = -1;
  std::thread m_writer;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<ConnectionRecord> m_waiting;  // under m_mutex
  bool m_closing = false;                   // under m_mutex
  bool m_ending = false;                    // under m_mutex: the end's patience runs
  Clock::time_point m_endBy;                // under m_mutex, once ending
  std::uint64_t m_written = 0;              // under m_mutex
  std::uint64_t m_lost = 0;                 // under m_mutex
  std::string m_writeError;                 // under m_mutex
};
