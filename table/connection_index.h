#pragma once

#include <cstddef>
#include <cstdint>

#include "table/entry_pool.h"
#include "table/huge_pages.h"
#include "table/traffic_entry.h"

// Hash index from a connection key to its entry, so that matching a packet
// costs the same with a thousand connections as with a million.
//
// Open addressing with linear probing over 8-byte slots (the key's 32-bit
// hash and the entry's id): small enough that the index of a million
// connections stays in cache, and the hash lets a probe skip other keys
// without touching their entries. Erasure shifts the following slots back
// instead of leaving tombstones, so lookups stay short however many
// connections come and go. The hash is seeded per index: the keys come from
// the network, and a fixed hash would let a sender choose colliding keys and
// turn every lookup into a walk.
class ConnectionIndex {
 public:
  // Starts with the slots of one huge page, the least the index takes from
  // the system anyway: the first 196,608 connections come without a
  // rehash. `initialSlots` (a power of two) is for tests of the growth.
  static constexpr std::size_t kSlotsPerHugePage = kHugePageBytes / 8;
  explicit ConnectionIndex(const EntryPool& pool, std::size_t initialSlots = kSlotsPerHugePage);

  TrafficEntry* Find(const ConnectionKey& key) const;
  // The same, for a key whose Hash is known.
  TrafficEntry* Find(const ConnectionKey& key, std::uint32_t hash) const;

  // Accounting a run of packets overlaps their trips to memory: first each
  // key's home slot is fetched, then the entry its hash points at, and only
  // then are the packets matched one by one, mostly from cache.
  std::uint32_t Hash(const ConnectionKey& key) const;
  void PrefetchSlot(std::uint32_t hash) const;
  void PrefetchEntry(std::uint32_t hash) const;
  // The entry's key must not be in the index yet.
  void Insert(const TrafficEntry* entry);
  // The same, for an entry whose key's Hash is known.
  void Insert(const TrafficEntry* entry, std::uint32_t hash);
  void Erase(const ConnectionKey& key);
  // Forgets every key and gives back the memory past its first size.
  void Clear();
  std::size_t Size() const { return m_count; }

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t idPlusOne = 0;  // 0: the slot is free
  };
  static_assert(sizeof(Slot) * kSlotsPerHugePage == kHugePageBytes);

  // The slot holding the key, or the free slot where it would go.
  std::size_t FindSlot(const ConnectionKey& key, std::uint32_t hash) const;
  std::size_t Home(std::uint32_t hash) const { return hash >> m_shift; }
  void Resize(std::size_t slots);
  void Grow();
  void Place(std::uint32_t hash, std::uint32_t id);

  const EntryPool& m_pool;
  HugePageArray<Slot> m_slots;
  std::size_t m_initialSlots;
  std::size_t m_mask = 0;  // slot count - 1
  int m_shift = 0;         // 32 - log2(slot count)
  std::size_t m_count = 0;
  std::uint64_t m_seed = 0;
};
