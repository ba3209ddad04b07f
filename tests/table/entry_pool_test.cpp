// Under the address sanitizer, an entry that is not allocated is poisoned:
// a use after free of an entry is reported like one of the heap.
#include "table/entry_pool.h"

#include <gtest/gtest.h>

#include "support/sanitizers.h"

namespace {

[[maybe_unused]] std::uint64_t Touch(const TrafficEntry* entry) { return *static_cast<const volatile std::uint64_t*>(&entry->bytes); }

TEST(EntryPoolDeathTest, ReadingAnEntryThatIsNotAllocatedIsReported) {
#ifndef QUORVEL_TESTS_ASAN
  GTEST_SKIP() << "only an address-sanitizer build sees it";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EntryPool pool;
  TrafficEntry* kept = pool.Allocate();
  TrafficEntry* freed = pool.Allocate();
  const TrafficEntry* neverAllocated = pool.Get(freed->id + 1);
  pool.Free(freed);
  EXPECT_DEATH(Touch(freed), "use-after-poison") << "a freed entry";
  EXPECT_DEATH(Touch(neverAllocated), "use-after-poison");
  kept->bytes = 7;
  EXPECT_EQ(Touch(kept), 7u);
  TrafficEntry* again = pool.Allocate();
  ASSERT_EQ(again, freed) << "the freed id is given out again";
  EXPECT_EQ(Touch(again), 0u);
#endif
}

}  // namespace
