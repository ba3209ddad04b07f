#pragma once

#include <cstddef>
#include <memory>

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
