#include "table/entry_pool.h"

#include <sanitizer/asan_interface.h>

// Under the address sanitizer an entry that is not allocated is poisoned,
// so that a use after free of an entry is reported as it would be for the
// heap; the blocks themselves never go back to the system while entries
// come and go. Elsewhere the macros do nothing.

TrafficEntry* EntryPool::Allocate() {
  std::uint32_t id;
  if (!m_freeIds.empty()) {
    id = m_freeIds.back();
    m_freeIds.pop_back();
  } else {
    if ((m_nextId & (kBlockSize - 1)) == 0) {
      m_blocks.push_back(MakeHugePageArray<TrafficEntry>(kBlockSize));
      ASAN_POISON_MEMORY_REGION(m_blocks.back().get(), kBlockSize * sizeof(TrafficEntry));
    }
    id = m_nextId++;
  }
  PrefetchNextAllocation();
  TrafficEntry* entry = Get(id);
  ASAN_UNPOISON_MEMORY_REGION(entry, sizeof *entry);
  *entry = TrafficEntry{};
  entry->id = id;
  return entry;
}

void EntryPool::Free(TrafficEntry* entry) {
  m_freeIds.push_back(entry->id);
  ASAN_POISON_MEMORY_REGION(entry, sizeof *entry);
}

void EntryPool::Clear() {
  // The memory goes back to the system, which may hand it out again to
  // anyone: it must not stay poisoned.
  for (auto& block : m_blocks) ASAN_UNPOISON_MEMORY_REGION(block.get(), kBlockSize * sizeof(TrafficEntry));
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
