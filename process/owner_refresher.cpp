#include "process/owner_refresher.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <utility>

std::vector<IpAddress> LocalAddresses() {
  std::vector<IpAddress> addresses;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return addresses;
  for (const ifaddrs* at = interfaces; at != nullptr; at = at->ifa_next) {
    if (at->ifa_addr == nullptr) continue;
    if (at->ifa_addr->sa_family == AF_INET) {
      addresses.push_back(IpAddress::Ipv4(reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr));
    } else if (at->ifa_addr->sa_family == AF_INET6) {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(at->ifa_addr);
      addresses.push_back(IpAddress::Ipv6(address->sin6_addr.s6_addr));
    }
  }
  freeifaddrs(interfaces);
  return addresses;
}

COwnerRefresher::COwnerRefresher(std::string procRoot, std::chrono::milliseconds minimumGap)
    : m_procRoot(std::move(procRoot)),
      m_minimumGap(minimumGap),
      m_table(std::make_shared<COwnerTable>()),
      m_thread(&COwnerRefresher::Run, this) {}

COwnerRefresher::~COwnerRefresher() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

bool COwnerRefresher::Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const {
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
  m_wake.notify_one();
}

std::string COwnerRefresher::LastError() const {
  std::lock_guard lock(m_mutex);
  return m_lastError;
}

void COwnerRefresher::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_wanted || m_stopping; });
    if (m_stopping) return;
    m_wanted = false;
    lock.unlock();
    Refresh();
    lock.lock();
    // However often it is asked, it looks at most once per gap.
    if (m_wake.wait_for(lock, m_minimumGap, [this] { return m_stopping; })) return;
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
  table->Build(m_sockets, m_processes, LocalAddresses(), m_users);
  AttributionLevel level = AttributionLevel::kNone;
  if (listed || !m_sockets.empty())
    level = scanned && m_processes.unreadable == 0 ? AttributionLevel::kEveryProcess : AttributionLevel::kOwnProcesses;
  std::shared_ptr<const COwnerTable> freed;
  {
    std::lock_guard lock(m_mutex);
    freed = std::exchange(m_previous, std::exchange(m_table, std::move(table)));
    m_lastError = std::move(error);
  }
  m_level.store(level, std::memory_order_relaxed);
  m_generation.fetch_add(1, std::memory_order_release);
}
