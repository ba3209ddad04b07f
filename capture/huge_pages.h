#pragma once

#include <cstddef>
#include <memory>

// Memory for large tables that are touched at random, placed on 2 MiB pages
// where the system offers them: on small pages a table of a million
// connections would also miss the address translation cache on nearly
// every packet. Small requests get ordinary memory.
void* AllocateHugePageMemory(std::size_t bytes);
void FreeHugePageMemory(void* memory);

struct HugePageDeleter {
  void operator()(void* memory) const { FreeHugePageMemory(memory); }
};

// A zero-filled array of trivially copyable T.
template <typename T>
using HugePageArray = std::unique_ptr<T[], HugePageDeleter>;

template <typename T>
HugePageArray<T> MakeHugePageArray(std::size_t count) {
  return HugePageArray<T>(new (AllocateHugePageMemory(count * sizeof(T))) T[count]());
}
