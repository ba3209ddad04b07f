#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "table/huge_pages.h"
#include "table/traffic_entry.h"

// Owns the connection entries. Entries live in large blocks and are named
// by a 32-bit id, so that the hash index can hold 8-byte slots: at a
// million connections the whole index then stays in the processor's cache,
// and matching a packet costs one trip to memory (its entry) instead of
// two. An entry never moves while it lives.
class EntryPool {
 public:
  EntryPool() = default;
  ~EntryPool() { Clear(); }
  EntryPool(const EntryPool&) = delete;
  EntryPool& operator=(const EntryPool&) = delete;

  TrafficEntry* Allocate();
  void Free(TrafficEntry* entry);
  // Frees every entry and gives the blocks back.
  void Clear();

  TrafficEntry* Get(std::uint32_t id) const {
    return &m_blocks[id >> kBlockShift][id & (kBlockSize - 1)];
  }

 private:
  void PrefetchNextAllocation() const;

  // A block fills one 2 MiB page exactly.
  static constexpr std::uint32_t kBlockShift = 15;
  static constexpr std::uint32_t kBlockSize = 1u << kBlockShift;

  static_assert(sizeof(TrafficEntry) << kBlockShift == std::size_t{2} << 20);

  std::vector<HugePageArray<TrafficEntry>> m_blocks;
  std::vector<std::uint32_t> m_freeIds;
  std::uint32_t m_nextId = 0;
};
