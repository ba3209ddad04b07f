#include "capture/entry_pool.h"

TrafficEntry* EntryPool::Allocate() {
  std::uint32_t id;
  if (!m_freeIds.empty()) {
    id = m_freeIds.back();
    m_freeIds.pop_back();
  } else {
    if ((m_nextId & (kBlockSize - 1)) == 0) m_blocks.push_back(MakeHugePageArray<TrafficEntry>(kBlockSize));
    id = m_nextId++;
  }
  PrefetchNextAllocation();
  TrafficEntry* entry = Get(id);
  *entry = TrafficEntry{};
  entry->id = id;
  return entry;
}

void EntryPool::Free(TrafficEntry* entry) { m_freeIds.push_back(entry->id); }

void EntryPool::Clear() {
  m_blocks.clear();
  m_blocks.shrink_to_fit();
  m_freeIds.clear();
  m_freeIds.shrink_to_fit();
  m_nextId = 0;
}

// A new connection writes a whole entry that is not in any cache yet: the
// entry a few allocations ahead is fetched now, so that its connection
// finds it there.
void EntryPool::PrefetchNextAllocation() const {
  constexpr std::uint32_t kAhead = 4;
  const std::uint32_t fresh = m_nextId + kAhead;
  if (m_freeIds.size() >= kAhead)
    __builtin_prefetch(Get(m_freeIds[m_freeIds.size() - kAhead]), 1);
  else if (fresh >> kBlockShift < m_blocks.size())
    __builtin_prefetch(Get(fresh), 1);
}
