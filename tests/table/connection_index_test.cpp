#include "table/connection_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace {

ConnectionKey KeyOf(std::uint32_t n) {
  ConnectionKey key;
  key.sourceAddress = n * 2654435761u;
  key.destinationAddress = ~n;
  key.sourcePort = static_cast<std::uint16_t>(n);
  key.protocol = static_cast<std::uint8_t>(n % 3 == 0 ? 6 : 17);
  return key;
}

// Random inserts and erasures against a std::map: every key stays findable
// through growth and through the back-shifting of erased slots, also where
// a run of slots wraps around the end.
TEST(ConnectionIndexTest, AgreesWithAReferenceMapUnderChurn) {
  EntryPool pool;
  ConnectionIndex index(pool, 16);
  std::map<std::uint32_t, TrafficEntry*> reference;
  std::mt19937 random(42);
  for (int step = 0; step < 200000; ++step) {
    const std::uint32_t n = random() % 5000;
    auto it = reference.find(n);
    if (it == reference.end()) {
      TrafficEntry* entry = pool.Allocate();
      entry->key = KeyOf(n);
      index.Insert(entry);
      reference.emplace(n, entry);
    } else if (random() % 2 == 0) {
      index.Erase(it->second->key);
      pool.Free(it->second);
      reference.erase(it);
    }
    if (step % 20000 == 0) {
      for (std::uint32_t k = 0; k < 5000; ++k) {
        auto found = reference.find(k);
        ASSERT_EQ(index.Find(KeyOf(k)), found == reference.end() ? nullptr : found->second);
      }
    }
  }
  EXPECT_EQ(index.Size(), reference.size());
}

TEST(ConnectionIndexTest, KeysDifferingInOneFieldAreDifferent) {
  EntryPool pool;
  ConnectionIndex index(pool);
  TrafficEntry& a = *pool.Allocate();
  TrafficEntry& b = *pool.Allocate();
  a.key = KeyOf(7);
  b.key = a.key;
  b.key.protocol = 1;
  index.Insert(&a);
  EXPECT_EQ(index.Find(b.key), nullptr);
  index.Insert(&b);
  EXPECT_EQ(index.Find(a.key), &a);
  EXPECT_EQ(index.Find(b.key), &b);
  index.Clear();
  EXPECT_EQ(index.Find(a.key), nullptr);
  EXPECT_EQ(index.Size(), 0u);
}

}  // namespace
