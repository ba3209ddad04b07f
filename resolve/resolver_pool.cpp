#include "resolve/resolver_pool.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/crash_handler.h"
#include "resolve/host_name_store.h"

namespace resolve {

std::shared_ptr<ResolverPool> ResolverPool::Create(ReverseResolver resolver, std::shared_ptr<HostNameStore> store,
                                                   const HostNameLimits& limits) {
  return std::shared_ptr<ResolverPool>(new ResolverPool(std::move(resolver), std::move(store), limits));
}

ResolverPool::ResolverPool(ReverseResolver resolver, std::shared_ptr<HostNameStore> store,
                           const HostNameLimits& limits)
    : m_resolver(std::move(resolver)), m_store(std::move(store)), m_limits(limits), m_queries(limits.burst) {}

bool ResolverPool::Request(const IpAddress& address) {
  std::lock_guard lock(m_mutex);
  if (m_closed || m_waiting.size() >= m_limits.waiting) return false;
  m_waiting.push_back(address);
  if (m_threads < std::max(m_limits.threads, 1u)) StartThreadLocked();
  return true;
}

void ResolverPool::Close() {
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_waiting.clear();
  }
  m_closing.notify_all();
}

void ResolverPool::StartThreadLocked() {
  try {
    std::thread([self = shared_from_this()] {
      platform::PrepareThreadForCrashReport(platform::ThreadRole::kResolver);
      self->Work();
    }).detach();
    ++m_threads;
  } catch (const std::system_error&) {
    // Out of threads for now: the request stays queued and is served by
    // the next thread that does start.
  }
}

void ResolverPool::Work() {
  while (const auto address = NextRequest()) m_store->Answer(*address, ResolveQuietly(*address));
}

std::optional<IpAddress> ResolverPool::NextRequest() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    // Leaving is decided under the same lock that Request holds while it
    // counts threads, so no request is left waiting without one.
    if (m_closed || m_waiting.empty()) {
      --m_threads;
      return std::nullopt;
    }
    const Clock::duration wait = TakeQueryLocked();
    if (wait == Clock::duration::zero()) break;
    m_closing.wait_for(lock, wait);
  }
  const IpAddress address = m_waiting.front();
  m_waiting.pop_front();
  return address;
}

ResolverPool::Clock::duration ResolverPool::TakeQueryLocked() {
  const Clock::time_point now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - m_queriesTime).count();
  m_queries = std::min(m_limits.burst, m_queries + seconds * m_limits.queriesPerSecond);
  m_queriesTime = now;
  if (m_queries >= 1) {
    m_queries -= 1;
    return Clock::duration::zero();
  }
  const auto missing = std::chrono::duration<double>((1 - m_queries) / m_limits.queriesPerSecond);
  return std::max<Clock::duration>(std::chrono::duration_cast<Clock::duration>(missing), std::chrono::milliseconds(1));
}

std::optional<std::string> ResolverPool::ResolveQuietly(const IpAddress& address) const {
  // An exception must not end the process from a detached thread; a lookup
  // that throws has simply failed.
  try {
    return m_resolver(address);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace resolve
