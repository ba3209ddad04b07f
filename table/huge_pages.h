#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Memory for large tables that are touched at random, placed on 2 MiB pages
// where the system offers them: on small pages a table of a million
// connections would also miss the address translation cache on nearly
// every packet. The memory comes zero-filled straight from the system and
// goes back to it when freed.
void* AllocateHugePageMemory(std::size_t bytes);
void FreeHugePageMemory(void* memory, std::size_t bytes);

class HugePageDeleter {
 public:
  HugePageDeleter() = default;
  explicit HugePageDeleter(std::size_t bytes) : m_bytes(bytes) {}
  void operator()(void* memory) const { FreeHugePageMemory(memory, m_bytes); }

 private:
  std::size_t m_bytes = 0;
};

// An array of an implicit-lifetime T whose every byte starts at zero.
template <typename T>
using HugePageArray = std::unique_ptr<T[], HugePageDeleter>;

template <typename T>
HugePageArray<T> MakeHugePageArray(std::size_t count) {
  const std::size_t bytes = count * sizeof(T);
  return HugePageArray<T>(static_cast<T*>(AllocateHugePageMemory(bytes)), HugePageDeleter(bytes));
}

// For arrays that grow with the table: their memory comes backed in one call
// instead of one fault per 4 KiB page as they fill.
template <typename T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(std::size_t count) { return static_cast<T*>(AllocateHugePageMemory(count * sizeof(T))); }
  void deallocate(T* memory, std::size_t count) { FreeHugePageMemory(memory, count * sizeof(T)); }
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }
};

template <typename T>
using HugePageVector = std::vector<T, HugePageAllocator<T>>;

// Makes room for one more element ahead of need: at least one whole huge
// page, then twice the room, so that a growing array is backed in a few
// large steps.
template <typename T>
void ReserveOneMore(HugePageVector<T>& vector) {
  if (vector.size() < vector.capacity()) return;
  vector.reserve(std::max(vector.capacity() * 2, kHugePageBytes / sizeof(T)));
}
