#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "resolve/host_name_limits.h"
#include "resolve/reverse_lookup.h"

namespace resolve {

class HostNameStore;

// Runs reverse lookups off the caller's thread and hands each outcome to
// the store, within the limits: at most `threads` lookups at once, no more
// of them started than the rate allows, at most `waiting` addresses
// waiting. Threads start when requests wait and end when none is left, so
// an idle cache holds no thread.
//
// The threads are detached and keep the pool (and through it the store)
// alive themselves: nobody ever waits for a resolver call, which may hang
// far longer than a window may take to close.
class ResolverPool : public std::enable_shared_from_this<ResolverPool> {
 public:
  static std::shared_ptr<ResolverPool> Create(ReverseResolver resolver, std::shared_ptr<HostNameStore> store,
                                              const HostNameLimits& limits);

  ResolverPool(const ResolverPool&) = delete;
  ResolverPool& operator=(const ResolverPool&) = delete;

  // Queues one lookup; the caller asks once per address. False when the
  // queue is full (or the pool closed): the address is not looked up.
  bool Request(const IpAddress& address);

  // Drops the requests not yet started and refuses new ones; a lookup in
  // progress ends on its own time. Returns at once.
  void Close();

 private:
  using Clock = std::chrono::steady_clock;

  ResolverPool(ReverseResolver resolver, std::shared_ptr<HostNameStore> store, const HostNameLimits& limits);

  void StartThreadLocked();
  void Work();
  std::optional<IpAddress> NextRequest();
  // Takes one query's worth of the rate, or says how long until there is one.
  Clock::duration TakeQueryLocked();
  std::optional<std::string> ResolveQuietly(const IpAddress& address) const;

  const ReverseResolver m_resolver;
  const std::shared_ptr<HostNameStore> m_store;
  const HostNameLimits m_limits;

  std::mutex m_mutex;
  std::condition_variable m_closing;
  std::deque<IpAddress> m_waiting;
  unsigned m_threads = 0;
  bool m_closed = false;
  double m_queries;  // queries allowed now; grows at the rate up to the burst
  Clock::time_point m_queriesTime = Clock::now();
};

}  // namespace resolve
