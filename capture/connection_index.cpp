#include "capture/connection_index.h"

#include <cstring>
#include <random>
#include <utility>

namespace {

constexpr std::size_t kInitialSlots = 1024;

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

ConnectionIndex::ConnectionIndex(const EntryPool& pool) : m_pool(pool), m_seed(RandomSeed()) {
  Clear();
}

std::uint32_t ConnectionIndex::Hash(const ConnectionKey& key) const {
  std::uint64_t words[2];
  std::memcpy(words, &key, sizeof words);
  return static_cast<std::uint32_t>(Mix(Mix(words[0] ^ m_seed) ^ words[1]));
}

std::size_t ConnectionIndex::FindSlot(const ConnectionKey& key, std::uint32_t hash) const {
  for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
    const Slot& slot = m_slots[i];
    if (slot.idPlusOne == 0) return i;
    if (slot.hash == hash && m_pool.Get(slot.idPlusOne - 1)->key == key) return i;
  }
}

void ConnectionIndex::PrefetchSlot(std::uint32_t hash) const { __builtin_prefetch(&m_slots[hash & m_mask]); }

void ConnectionIndex::PrefetchEntry(std::uint32_t hash) const {
  for (std::size_t i = hash & m_mask; m_slots[i].idPlusOne != 0; i = (i + 1) & m_mask) {
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

void ConnectionIndex::Insert(const TrafficEntry* entry) {
  // At most three quarters full keeps linear probes short.
  if ((m_count + 1) * 4 > (m_mask + 1) * 3) Grow();
  Place(Hash(entry->key), entry->id);
  ++m_count;
}

void ConnectionIndex::Place(std::uint32_t hash, std::uint32_t id) {
  std::size_t i = hash & m_mask;
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
    const std::size_t home = m_slots[next].hash & m_mask;
    const bool homeAfterHole = ((next - home) & m_mask) < ((next - hole) & m_mask);
    if (homeAfterHole) continue;
    m_slots[hole] = m_slots[next];
    hole = next;
  }
  m_slots[hole] = Slot{};
}

void ConnectionIndex::Clear() {
  m_slots = MakeHugePageArray<Slot>(kInitialSlots);
  m_mask = kInitialSlots - 1;
  m_count = 0;
}

void ConnectionIndex::Grow() {
  const std::size_t oldCount = m_mask + 1;
  HugePageArray<Slot> old = std::exchange(m_slots, MakeHugePageArray<Slot>(oldCount * 2));
  m_mask = oldCount * 2 - 1;
  for (std::size_t i = 0; i < oldCount; ++i)
    if (old[i].idPlusOne != 0) Place(old[i].hash, old[i].idPlusOne - 1);
}
