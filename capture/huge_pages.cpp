#include "capture/huge_pages.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* AllocateHugePageMemory(std::size_t bytes) {
  if (bytes < kHugePage) {
    if (void* memory = std::malloc(bytes == 0 ? 1 : bytes)) return memory;
    throw std::bad_alloc();
  }
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* memory = std::aligned_alloc(kHugePage, rounded);
  if (memory == nullptr) throw std::bad_alloc();
  madvise(memory, rounded, MADV_HUGEPAGE);
  return memory;
}

void FreeHugePageMemory(void* memory) { std::free(memory); }
