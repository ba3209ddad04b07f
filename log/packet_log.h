#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "log/packet_log_file.h"
#include "log/packet_log_writer.h"

class CSettings;
struct ParsedPacket;

// The packet log: every packet the connection table counts, written to a
// file in the layout chosen by `logtype` (0 to 8; any other value gives
// the layout of 0):
//
//   0  text header, hex-and-text dump of the whole IP packet
//   1  text header, the whole IP packet as raw bytes
//   2  text header, hex dump of the whole IP packet
//   3-5  as 0-2, but of the payload (what follows the assumed header)
//   6  text header only
//   7  one semicolon-separated line
//   8  that line with the payload in hex
//
// IPv6 packets take the same layouts: the whole packet is the fixed header
// and all that follows it, the payload what follows the extension headers
// and the transport header (packet_log::RecordHeaderOf), and an address
// shows in its compressed form, in brackets where a port follows it.
//
// The file keeps growing across captures; the first record written after
// it has grown past the size limit starts it afresh.
//
// Records are formatted on the capture thread and written by a thread of
// the log's own (PacketLogWriter): no file is touched under the table
// lock, and a stalled or full disk costs records, never the capture. Every
// record is either in the file whole or counted (LostRecords).
// Every change of the open log holds the connection table's lock (given
// to the constructor), which the capture thread holds while it puts a
// record in, so that records go to the file that was open when they were
// counted. The table that writes to the log is told to stop before the
// log goes. Nothing here waits for
// the user: a file that cannot be opened or written is reported through
// the user-message sink, which returns at once.
class CPacketLog {
 public:
  CPacketLog(CSettings& settings, std::recursive_mutex& tableLock);
  ~CPacketLog();
  CPacketLog(const CPacketLog&) = delete;
  CPacketLog& operator=(const CPacketLog&) = delete;

  // Opens `logfile` with `mode` ("a+" appends, "w+" empties) when
  // `uselogfile` is on; does nothing when it is off. A file that cannot be
  // opened is reported once to the user and switches `uselogfile` off, so
  // the capture goes on without a log.
  // Also starts the count of lost records afresh.
  void OpenLog(const char* mode);
  // Writes what waits and closes the file; a disk that stalls is waited
  // for a moment only (PacketLogWriter::Close), the rest counted as lost.
  void CloseLog();
  // Whether a log is open now. Answers without the table lock, so that the
  // capture thread can ask for every frame; a change made under the lock is
  // seen by the next frame read after it.
  bool IsOpen() const;

  // Writes the record of one counted packet, if a log is open;
  // `assumedHeaderLength` is the part of it the table does not count as
  // data. Nothing at or past the packet's captured bytes is read, so a dump
  // of a frame cut short holds only the bytes that were captured.
  void WriteLogRecord(const ParsedPacket& packet, unsigned assumedHeaderLength);

  // The settings dialog's change of the log file. Opens `path` for
  // appending; when that fails, or the path does not fit into `logfile`,
  // nothing changes and 1 is returned (the dialog tells the user). When it
  // succeeds, `path` becomes `logfile` and, while capturing, the open log
  // with logging on, the previous log being closed; otherwise the file is
  // only created and closed again. Returns 0 then.
  int ReplaceLog(const char* path, bool capturing);

  // The records not written since the log was last opened at a capture's
  // start: the writer had fallen behind, the file took no more (a full
  // disk), or the writer was given up at the close. Any thread.
  std::uint64_t LostRecords() const { return m_lost->load(std::memory_order_relaxed); }

 private:
  void ReportOpenFailure() const;
  // Makes `file` the open log; false when its writer cannot start. Caller
  // holds the table lock and has no log open.
  bool Begin(std::unique_ptr<PacketLogFile> file);
  // Takes the open log's writer away (null: none). Caller holds the lock.
  std::unique_ptr<PacketLogWriter> TakeWriter();
  void Finish(std::unique_ptr<PacketLogWriter> writer);
  void WriteRecord(const ParsedPacket& packet, unsigned assumedHeaderLength);

  CSettings& m_settings;
  std::recursive_mutex& m_tableLock;
  std::unique_ptr<PacketLogWriter> m_writer;  // null: no log open
  std::atomic<bool> m_isOpen{false};          // m_writer != null, for readers without the lock
  // Shared with the writers, which count into it from their own thread.
  const std::shared_ptr<PacketLogWriter::Counter> m_lost = std::make_shared<PacketLogWriter::Counter>(0);
  // The end of the last writer's thread, which the next one waits for.
  std::shared_ptr<PacketLogWriter::ThreadEnd> m_lastWriterEnd;
  std::unique_ptr<char[]> m_recordBuffer;  // where records are formatted before the stream
};
