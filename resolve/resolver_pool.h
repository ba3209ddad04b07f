#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "resolve/reverse_lookup.h"

namespace resolve {

class HostNameStore;

// Runs reverse lookups off the caller's thread and hands each outcome to
// the store. At most `maxThreads` lookups run at once; threads start when
// requests wait and end when none is left, so an idle cache holds no thread.
//
// The threads are detached and keep the pool (and through it the store)
// alive themselves: nobody ever waits for a resolver call, which may hang
// far longer than a window may take to close.
class ResolverPool : public std::enable_shared_from_this<ResolverPool> {
 public:
  static std::shared_ptr<ResolverPool> Create(ReverseResolver resolver,
                                              std::shared_ptr<HostNameStore> store,
                                              unsigned maxThreads);

  ResolverPool(const ResolverPool&) = delete;
  ResolverPool& operator=(const ResolverPool&) = delete;

  // Queues one lookup. The caller asks once per address.
  void Request(std::uint32_t address);

  // Drops the requests not yet started and refuses new ones; a lookup in
  // progress ends on its own time. Returns at once.
  void Close();

 private:
  ResolverPool(ReverseResolver resolver, std::shared_ptr<HostNameStore> store, unsigned maxThreads);

  void StartThreadLocked();
  void Work();
  std::optional<std::uint32_t> NextRequest();
  std::optional<std::string> ResolveQuietly(std::uint32_t address) const;

  const ReverseResolver m_resolver;
  const std::shared_ptr<HostNameStore> m_store;
  const unsigned m_maxThreads;

  std::mutex m_mutex;
  std::deque<std::uint32_t> m_waiting;
  unsigned m_threads = 0;
  bool m_closed = false;
};

}  // namespace resolve
