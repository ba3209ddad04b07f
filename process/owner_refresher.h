#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "process/owner_table.h"
#include "process/sock_diag_reader.h"
#include "table/connection_owner.h"

// How much of the owners the system lets us see.
enum class AttributionLevel : std::uint8_t {
  kNone,             // not looked yet, or the socket listing failed
  kOwnProcesses,     // the users of every connection, the programs of our own processes only
  kEveryProcess,     // every process could be looked into
};

// Keeps a table of the owners of this machine's sockets on a thread of its
// own: the sockets from the kernel's socket listing, their processes from
// /proc. It looks when asked (WantOwners), and at most once per
// `minimumGap`, never on the caller's thread. The sockets are those of the
// network namespace of the thread that made the object.
class COwnerRefresher : public OwnerLookup {
 public:
  static constexpr std::chrono::milliseconds kMinimumGap{500};

  explicit COwnerRefresher(std::string procRoot = "/proc", std::chrono::milliseconds minimumGap = kMinimumGap);
  ~COwnerRefresher() override;
  COwnerRefresher(const COwnerRefresher&) = delete;
  COwnerRefresher& operator=(const COwnerRefresher&) = delete;

  bool Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const override;
  std::uint64_t Generation() const override { return m_generation.load(std::memory_order_acquire); }
  void WantOwners() override;

  AttributionLevel Level() const { return m_level.load(std::memory_order_relaxed); }
  // Why the last look failed; empty when it did not. Taken under the lock.
  std::string LastError() const;

 private:
  void Run();
  void Refresh();

  const std::string m_procRoot;
  const std::chrono::milliseconds m_minimumGap;
  CSockDiagReader m_reader;  // made on the maker's thread, in its namespace
  CUserNames m_users;        // the refresher thread's only
  std::vector<SocketRecord> m_sockets;
  ProcessSockets m_processes;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_wanted = false;
  bool m_stopping = false;
  std::shared_ptr<const COwnerTable> m_table;     // under m_mutex
  std::shared_ptr<const COwnerTable> m_previous;  // under m_mutex
  std::string m_lastError;                     // under m_mutex
  std::atomic<std::uint64_t> m_generation{0};
  std::atomic<AttributionLevel> m_level{AttributionLevel::kNone};
  std::thread m_thread;
};

// The machine's own addresses, those of its interfaces, in the calling
// thread's network namespace.
std::vector<IpAddress> LocalAddresses();
