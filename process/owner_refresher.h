#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "process/owner_table.h"
#include "process/sock_diag_reader.h"
#include "process/socket_event_owners.h"
#include "table/connection_owner.h"

// How much of the owners the system lets us see.
enum class AttributionLevel : std::uint8_t {
  kNone,          // not looked yet, or the socket listing failed
  kOwnProcesses,  // the users of every connection, the programs of our own processes only
  kEveryProcess,  // every process could be looked into
  kSocketEvents,  // the capture helper's socket programs report every program
};

// Keeps the owners of this machine's sockets on a thread of its own: a
// table of the sockets from the kernel's socket listing and their
// processes from /proc, looked at when asked (WantOwners) and at most once
// per `minimumGap`; and, while a capture helper sends them, the owners its
// socket programs report, taken as they come. Nothing of it runs on the
// caller's thread. The sockets are those of the network namespace of the
// thread that made the object.
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

  // Reads the socket events from `fd` (the read end of a capture helper's
  // channel, owned from now on) in place of any before. Never blocks.
  void ListenToSocketEvents(int fd);

  AttributionLevel Level() const { return m_level.load(std::memory_order_relaxed); }
  // Why the last look failed; empty when it did not.
  std::string LastError() const;

 private:
  void Run();
  void Wake();
  void Refresh();
  void ReadSocketEvents();
  void TakeSocketEvent(const SocketEvent& event, bool& learnt);

  const std::string m_procRoot;
  const std::chrono::milliseconds m_minimumGap;
  CSockDiagReader m_reader;  // made on the maker's thread, in its namespace
  const int m_wakeFd;
  // The refresher thread's alone:
  CUserNames m_users;
  std::vector<SocketRecord> m_sockets;
  ProcessSockets m_processes;
  int m_procFd = -1;
  int m_eventsFd = -1;
  std::vector<char> m_eventBytes;

  CSocketEventOwners m_eventOwners;
  mutable std::mutex m_mutex;
  bool m_wanted = false;      // under m_mutex
  bool m_stopping = false;    // under m_mutex
  int m_nextEventsFd = -1;    // under m_mutex: handed over, not read yet
  std::shared_ptr<const COwnerTable> m_table;     // under m_mutex
  std::shared_ptr<const COwnerTable> m_previous;  // under m_mutex
  std::string m_lastError;                        // under m_mutex
  std::atomic<std::uint64_t> m_generation{0};
  std::atomic<AttributionLevel> m_level{AttributionLevel::kNone};
  std::thread m_thread;
};
