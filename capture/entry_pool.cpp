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
