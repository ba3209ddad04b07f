#include "table/connection_index.h"

#include <bit>
#include <cstring>
#include <random>
#include <utility>

namespace {

std::uint64_t Mix(std::uint64_t h) {
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

std::uint64_t RandomSeed() {
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

}  // namespace

ConnectionIndex::ConnectionIndex(const EntryPool& pool, std::size_t initialSlots)
    : m_pool(pool), m_initialSlots(initialSlots), m_seed(RandomSeed()) {
  Clear();
}

std::uint32_t ConnectionIndex::Hash(const ConnectionKey& key) const {
  std::uint64_t words[2];
  std::memcpy(words, &key, sizeof words);
  return static_cast<std::uint32_t>(Mix(Mix(words[0] ^ m_seed) ^ words[1]));
}

std::size_t ConnectionIndex::FindSlot(const ConnectionKey& key, std::uint32_t hash) const {
  for (std::size_t i = Home(hash);; i = (i + 1) & m_mask) {
    const Slot& slot = m_slots[i];
    if (slot.idPlusOne == 0) return i;
    if (slot.hash == hash && m_pool.Get(slot.idPlusOne - 1)->key == key) return i;
  }
}

void ConnectionIndex::PrefetchSlot(std::uint32_t hash) const { __builtin_prefetch(&m_slots[Home(hash)]); }

void ConnectionIndex::PrefetchEntry(std::uint32_t hash) const {
  for (std::size_t i = Home(hash); m_slots[i].idPlusOne != 0; i = (i + 1) & m_mask) {
    if (m_slots[i].hash == hash) {
      __builtin_prefetch(m_pool.Get(m_slots[i].idPlusOne - 1), 1);
      return;
    }
  }
}

TrafficEntry* ConnectionIndex::Find(const ConnectionKey& key) const { return Find(key, Hash(key)); }

TrafficEntry* ConnectionIndex::Find(const ConnectionKey& key, std::uint32_t hash) const {
  const Slot& slot = m_slots[FindSlot(key, hash)];
  return slot.idPlusOne != 0 ? m_pool.Get(slot.idPlusOne - 1) : nullptr;
}

void ConnectionIndex::Insert(const TrafficEntry* entry) { Insert(entry, Hash(entry->key)); }

void ConnectionIndex::Insert(const TrafficEntry* entry, std::uint32_t hash) {
  // At most three quarters full keeps linear probes short.
  if ((m_count + 1) * 4 > (m_mask + 1) * 3) Grow();
  Place(hash, entry->id);
  ++m_count;
}

void ConnectionIndex::Place(std::uint32_t hash, std::uint32_t id) {
  std::size_t i = Home(hash);
  while (m_slots[i].idPlusOne != 0) i = (i + 1) & m_mask;
  m_slots[i] = Slot{hash, id + 1};
}

void ConnectionIndex::Erase(const ConnectionKey& key) {
  std::size_t hole = FindSlot(key, Hash(key));
  if (m_slots[hole].idPlusOne == 0) return;
  --m_count;
  // Move back every following slot of the run whose home does not lie
  // cyclically after the hole, so no key ends up behind a free slot.
  for (std::size_t next = (hole + 1) & m_mask; m_slots[next].idPlusOne != 0;
       next = (next + 1) & m_mask) {
    const std::size_t home = Home(m_slots[next].hash);
    const bool homeAfterHole = ((next - home) & m_mask) < ((next - hole) & m_mask);
    if (homeAfterHole) continue;
    m_slots[hole] = m_slots[next];
    hole = next;
  }
  m_slots[hole] = Slot{};
}

// An index of its first size keeps its slots, emptied (no rehash leaves
// a tombstone, so an index without keys is empty already): a table that is
// emptied at every Start then costs no mapping of memory.
void ConnectionIndex::Clear() {
  if (m_slots == nullptr || m_mask + 1 != m_initialSlots)
    Resize(m_initialSlots);
  else if (m_count != 0)
    std::memset(static_cast<void*>(m_slots.get()), 0, m_initialSlots * sizeof(Slot));  // every slot free
  m_count = 0;
}

void ConnectionIndex::Resize(std::size_t slots) {
  m_slots = MakeHugePageArray<Slot>(slots);
  m_mask = slots - 1;
  m_shift = 32 - std::countr_zero(slots);
}

// A slot's home is given by the hash's top bits, so doubling sends the keys
// of old slot i to new slots 2i and 2i + 1: taken in order, they fill the
// new slots in order, and the rehash streams through memory instead of
// writing a million slots at random.
void ConnectionIndex::Grow() {
  const std::size_t oldCount = m_mask + 1;
  HugePageArray<Slot> old = std::move(m_slots);
  Resize(oldCount * 2);
  for (std::size_t i = 0; i < oldCount; ++i)
    if (old[i].idPlusOne != 0) Place(old[i].hash, old[i].idPlusOne - 1);
}
