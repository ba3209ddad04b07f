#include "resolve/resolver_pool.h"

#include <system_error>
#include <thread>
#include <utility>

#include "platform/crash_handler.h"
#include "resolve/host_name_store.h"

namespace resolve {

std::shared_ptr<ResolverPool> ResolverPool::Create(ReverseResolver resolver,
                                                   std::shared_ptr<HostNameStore> store,
                                                   unsigned maxThreads) {
  return std::shared_ptr<ResolverPool>(
      new ResolverPool(std::move(resolver), std::move(store), maxThreads));
}

ResolverPool::ResolverPool(ReverseResolver resolver, std::shared_ptr<HostNameStore> store,
                           unsigned maxThreads)
    : m_resolver(std::move(resolver)),
      m_store(std::move(store)),
      m_maxThreads(maxThreads == 0 ? 1 : maxThreads) {}

void ResolverPool::Request(std::uint32_t address) {
  std::lock_guard lock(m_mutex);
  if (m_closed) return;
  m_waiting.push_back(address);
  if (m_threads < m_maxThreads) StartThreadLocked();
}

void ResolverPool::Close() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  m_waiting.clear();
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

std::optional<std::uint32_t> ResolverPool::NextRequest() {
  std::lock_guard lock(m_mutex);
  // Leaving is decided under the same lock that Request holds while it
  // counts threads, so no request is left waiting without one.
  if (m_closed || m_waiting.empty()) {
    --m_threads;
    return std::nullopt;
  }
  const std::uint32_t address = m_waiting.front();
  m_waiting.pop_front();
  return address;
}

std::optional<std::string> ResolverPool::ResolveQuietly(std::uint32_t address) const {
  // An exception must not end the process from a detached thread; a lookup
  // that throws has simply failed.
  try {
    return m_resolver(address);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace resolve
