#include "process/owner_refresher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "process/local_addresses.h"

namespace {

constexpr std::size_t kEventsReadAtOnce = 256;

}  // namespace

COwnerRefresher::COwnerRefresher(std::string procRoot, std::chrono::milliseconds minimumGap)
    : m_procRoot(std::move(procRoot)),
      m_minimumGap(minimumGap),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_procFd(open(m_procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      m_table(std::make_shared<COwnerTable>()),
      m_thread(&COwnerRefresher::Run, this) {}

COwnerRefresher::~COwnerRefresher() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  Wake();
  m_thread.join();
  for (const int fd : {m_wakeFd, m_procFd, m_eventsFd, m_nextEventsFd})
    if (fd >= 0) close(fd);
}

void COwnerRefresher::Wake() {
  const std::uint64_t one = 1;
  if (write(m_wakeFd, &one, sizeof one) < 0) {
    // Already many wakes pending: one is enough.
  }
}

// What the socket programs reported first, then the sockets' table.
bool COwnerRefresher::Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const {
  if (m_eventOwners.Find(connection, owner)) return true;
  std::shared_ptr<const COwnerTable> table;
  {
    std::lock_guard lock(m_mutex);
    table = m_table;
  }
  return table->Find(connection, owner);
}

void COwnerRefresher::WantOwners() {
  {
    std::lock_guard lock(m_mutex);
    if (m_wanted) return;
    m_wanted = true;
  }
  Wake();
}

void COwnerRefresher::ListenToSocketEvents(int fd) {
  {
    std::lock_guard lock(m_mutex);
    if (m_nextEventsFd >= 0) close(m_nextEventsFd);
    m_nextEventsFd = fd;
  }
  Wake();
}

std::string COwnerRefresher::LastError() const {
  std::lock_guard lock(m_mutex);
  return m_lastError;
}

// Waits for a wish, the gap's end or socket events; however often it is
// asked, it looks at most once per gap.
void COwnerRefresher::Run() {
  bool looked = false;
  std::chrono::steady_clock::time_point lastLook;
  for (;;) {
    int timeoutMs = -1;
    bool lookNow = false;
    {
      std::lock_guard lock(m_mutex);
      if (m_stopping) return;
      if (m_nextEventsFd >= 0) {
        if (m_eventsFd >= 0) close(m_eventsFd);
        m_eventsFd = std::exchange(m_nextEventsFd, -1);
        m_eventBytes.clear();
      }
      const auto now = std::chrono::steady_clock::now();
      if (m_wanted && (!looked || now >= lastLook + m_minimumGap)) {
        m_wanted = false;
        lookNow = true;
      } else if (m_wanted) {
        timeoutMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(lastLook + m_minimumGap - now).count() + 1);
      }
    }
    if (lookNow) {
      Refresh();
      looked = true;
      lastLook = std::chrono::steady_clock::now();
      continue;
    }
    pollfd waiting[2] = {{m_wakeFd, POLLIN, 0}, {m_eventsFd, POLLIN, 0}};
    if (poll(waiting, 2, timeoutMs) < 0) continue;
    std::uint64_t wakes = 0;
    if (waiting[0].revents != 0 && read(m_wakeFd, &wakes, sizeof wakes) < 0) {
      // Nothing to take: another read took it.
    }
    if (waiting[1].revents != 0) ReadSocketEvents();
  }
}

// The old table answers until the new one is whole; the swap is the only
// moment the lock is held. The table replaced stays one more round, so
// that it is always this thread that frees a table, never a reader's.
void COwnerRefresher::Refresh() {
  std::string error;
  const bool listed = m_reader.Read(m_sockets, error);
  const bool scanned = ScanProcessSockets(m_procRoot.c_str(), m_processes);
  if (!scanned && error.empty()) error = "cannot read " + m_procRoot;
  auto table = std::make_shared<COwnerTable>();
  table->Build(m_sockets, m_processes, LocalAddresses(), m_users, &m_eventOwners);
  AttributionLevel level = AttributionLevel::kNone;
  if (listed || !m_sockets.empty())
    level = scanned && m_processes.unreadable == 0 ? AttributionLevel::kEveryProcess : AttributionLevel::kOwnProcesses;
  std::shared_ptr<const COwnerTable> freed;
  {
    std::lock_guard lock(m_mutex);
    freed = std::exchange(m_previous, std::exchange(m_table, std::move(table)));
    m_lastError = std::move(error);
  }
  if (m_level.load(std::memory_order_relaxed) != AttributionLevel::kSocketEvents)
    m_level.store(level, std::memory_order_relaxed);
  m_generation.fetch_add(1, std::memory_order_release);
}

// Records come whole from the helper; bytes of one cut by a read wait for
// the rest. The end of the channel (the helper ended, or could not attach
// its programs) closes it.
void COwnerRefresher::ReadSocketEvents() {
  const std::size_t kept = m_eventBytes.size();
  m_eventBytes.resize(kept + kEventsReadAtOnce * sizeof(SocketEvent));
  const ssize_t got = read(m_eventsFd, m_eventBytes.data() + kept, m_eventBytes.size() - kept);
  if (got <= 0) {
    m_eventBytes.resize(kept);
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      close(m_eventsFd);
      m_eventsFd = -1;
    }
    return;
  }
  m_eventBytes.resize(kept + static_cast<std::size_t>(got));
  const std::size_t whole = m_eventBytes.size() / sizeof(SocketEvent) * sizeof(SocketEvent);
  bool learnt = false;
  for (std::size_t at = 0; at < whole; at += sizeof(SocketEvent)) {
    SocketEvent event;
    std::memcpy(&event, m_eventBytes.data() + at, sizeof event);
    TakeSocketEvent(event, learnt);
  }
  m_eventBytes.erase(m_eventBytes.begin(), m_eventBytes.begin() + static_cast<std::ptrdiff_t>(whole));
  if (learnt) m_generation.fetch_add(1, std::memory_order_release);
}

// The program's name is read at once: a program that ends soon after its
// connection is known by its name too.
void COwnerRefresher::TakeSocketEvent(const SocketEvent& event, bool& learnt) {
  if (event.kind == kSocketEventsAttached) {
    m_level.store(AttributionLevel::kSocketEvents, std::memory_order_relaxed);
    return;
  }
  ConnectionOwner program;
  if (event.pid != 0) {
    program.pid = static_cast<std::int32_t>(event.pid);
    program.uid = event.uid;
    program.uidKnown = true;
    char name[16];
    ReadProgramName(m_procFd, static_cast<pid_t>(event.pid), name);
    CopyOwnerName(program.program, name);
    CopyOwnerName(program.user, m_users.NameOf(event.uid));
  }
  if (m_eventOwners.Add(event, program)) learnt = true;
}
