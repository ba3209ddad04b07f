#include "table/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace {

constexpr std::size_t kHugePage = kHugePageBytes;
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // older headers; older kernels refuse it
#endif

std::size_t RoundUp(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* AllocateHugePageMemory(std::size_t bytes) {
  const std::size_t size = RoundUp(bytes == 0 ? 1 : bytes);
  // Over-map by one huge page and trim, so the range starts on a 2 MiB
  // boundary and can be backed by huge pages from its first byte.
  void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned != start) munmap(mapped, aligned - start);
  const std::size_t tail = kHugePage - (aligned - start);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* memory = reinterpret_cast<void*>(aligned);
  madvise(memory, size, MADV_HUGEPAGE);
  // Back every page now, in one call where the system can: a table read
  // before it is written would first map the shared zero page and then
  // fault again to copy it.
  if (madvise(memory, size, kPopulateWrite) != 0) {
    for (std::size_t offset = 0; offset < size; offset += kHugePage)
      static_cast<volatile char*>(memory)[offset] = 0;
  }
  return memory;
}

void FreeHugePageMemory(void* memory, std::size_t bytes) {
  if (memory != nullptr) munmap(memory, RoundUp(bytes == 0 ? 1 : bytes));
}
