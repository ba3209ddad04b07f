#include "export/closed_connection_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/protected_open.h"
#include "platform/wall_clock.h"

CClosedConnectionStream::CClosedConnectionStream(ExportFormat format, ExportColumns columns)
    : m_format(format), m_columns(columns) {}

CClosedConnectionStream::~CClosedConnectionStream() { Close(); }

bool CClosedConnectionStream::Open(const std::string& path, std::string& error) {
  // Not blocking: a reader that stops reading (of a pipe or a FIFO) must
  // never hold up the end of the run for good.
  m_fd = platform::OpenWithProtectedLinks(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK, 0644);
  if (m_fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  // A CSV file that is new, or empty, starts with its header.
  const std::string header = ExportHeader(m_format, m_columns);
  if (!header.empty() && lseek(m_fd, 0, SEEK_END) == 0) WriteAll(header, 0);
  m_writer = std::thread(&CClosedConnectionStream::WriteLoop, this);
  return true;
}

// The tick the connection left at is now: its times become wall-clock
// times here, while both clocks still agree on the moment.
void CClosedConnectionStream::ConnectionClosed(const ClosedConnection& connection) {
  ConnectionRecord record = RecordOfClosed(connection, connection.closedAt, platform::WallClockMs());
  std::unique_lock lock(m_mutex);
  if (m_fd < 0) return;
  if (m_ending) m_changed.wait_until(lock, m_endBy, [this] { return m_waiting.size() < kMostWaiting || m_closing; });
  if (m_waiting.size() >= kMostWaiting) {
    ++m_lost;
    return;
  }
  m_waiting.push_back(std::move(record));
  if (m_waiting.size() == 1) m_changed.notify_all();
}

void CClosedConnectionStream::WaitForRoomFromNowOn() {
  std::lock_guard lock(m_mutex);
  StartEnding();
}

// The caller holds m_mutex.
void CClosedConnectionStream::StartEnding() {
  if (m_ending) return;
  m_ending = true;
  m_endBy = Clock::now() + kEndPatience;
}

void CClosedConnectionStream::Close() {
  {
    std::lock_guard lock(m_mutex);
    StartEnding();
    m_closing = true;
  }
  m_changed.notify_all();
  if (m_writer.joinable()) m_writer.join();
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

std::uint64_t CClosedConnectionStream::Written() const {
  std::lock_guard lock(m_mutex);
  return m_written;
}

std::uint64_t CClosedConnectionStream::Lost() const {
  std::lock_guard lock(m_mutex);
  return m_lost;
}

std::string CClosedConnectionStream::WriteError() const {
  std::lock_guard lock(m_mutex);
  return m_writeError;
}

// Takes what waits, a batch at a time, and writes it as one piece: lines
// reach the file whole and at once, however many connections leave.
void CClosedConnectionStream::WriteLoop() {
  // A reader that went away is a write error of this thread's, not the end
  // of the program: the signal it raises stays pending here, unheard.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  std::vector<ConnectionRecord> batch;
  std::string text;
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      m_changed.wait(lock, [this] { return !m_waiting.empty() || m_closing; });
      if (m_waiting.empty()) return;
      batch.swap(m_waiting);
    }
    m_changed.notify_all();  // room again for a patient caller
    text.clear();
    for (const ConnectionRecord& record : batch) AppendExportLine(text, m_format, m_columns, record);
    WriteAll(text, batch.size());
    batch.clear();
  }
}

void CClosedConnectionStream::WriteAll(const std::string& text, std::size_t lines) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(m_fd, text.data() + done, text.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && errno == EAGAIN && WaitUntilWritable()) {
      continue;
    } else {
      const std::string reason = written < 0 && errno == EAGAIN ? "its reader did not take the lines in time"
                                                                 : std::strerror(written < 0 ? errno : ENOSPC);
      CountCutShort(text, done, lines, reason);
      return;
    }
  }
  std::lock_guard lock(m_mutex);
  m_written += lines;
}

// The lines written whole count as written; one cut short is taken off
// the file's end again where it can be (a full disk), so that the file
// holds whole lines only, and is lost with those after it.
void CClosedConnectionStream::CountCutShort(const std::string& text, std::size_t done, std::size_t lines,
                                            const std::string& reason) {
  const std::size_t lastEnd = done == 0 ? std::string::npos : text.rfind('\n', done - 1);
  const std::size_t wholeBytes = lastEnd == std::string::npos ? 0 : lastEnd + 1;
  if (done > wholeBytes) {
    const off_t end = lseek(m_fd, 0, SEEK_END);
    if (end >= static_cast<off_t>(done - wholeBytes)) {
      [[maybe_unused]] const int cut = ftruncate(m_fd, end - static_cast<off_t>(done - wholeBytes));
    }
  }
  const auto whole = static_cast<std::size_t>(std::count(text.begin(), text.begin() + wholeBytes, '\n'));
  const std::size_t wholeLines = std::min(whole, lines);
  std::lock_guard lock(m_mutex);
  m_written += wholeLines;
  m_lost += lines - wholeLines;
  m_writeError = reason;
}

// While the run goes on, as long as it takes (lines wait in the queue, and
// those that do not fit it are counted); at the end, until its patience
// runs out. A tenth of a second at a time, to see the end come.
bool CClosedConnectionStream::WaitUntilWritable() {
  for (;;) {
    {
      std::lock_guard lock(m_mutex);
      if (m_ending && Clock::now() >= m_endBy) return false;
    }
    pollfd writable = {m_fd, POLLOUT, 0};
    if (poll(&writable, 1, 100) > 0) return true;
  }
}
