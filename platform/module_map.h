#pragma once

#include <cstdint>

// Where an address lies in this process: the mapping that holds it, read
// from /proc/self/maps, and for a mapped ELF file the section that holds it.
// Built for a fault handler: open, read and pread into static storage, no
// allocation, no locks. The snapshot is process-wide and unguarded: one
// thread at a time takes it and looks things up in it.
namespace platform {

struct MappedRegion {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // one past the last byte
  std::uint64_t fileOffset = 0;
  bool readable = false;
  bool writable = false;
  const char* path = "";  // "" for anonymous memory, "[stack]" and the like for the kernel's own
};

// Reads the process's mappings as they are now. False when they cannot be
// read; lookups then find nothing. Mappings past the snapshot's capacity
// (thousands) are left out.
bool TakeMemoryMap();

// The mapping of the last snapshot that holds `address`, or null.
const MappedRegion* FindMappedRegion(std::uint64_t address);

// An address as module, section and offset. Section 0 with offset 0 means
// no section holds it; the module is then still named when a file is
// mapped there, and is "" outside any file.
struct LogicalAddress {
  std::uint32_t section = 0;  // index in the module's section header table
  std::uint64_t offset = 0;   // from the start of that section, as linked
  const char* module = "";
};

// The logical address of `address` by the last snapshot. The module's load
// bias is taken out, so position-independent code comes out as linked.
LogicalAddress FindLogicalAddress(std::uint64_t address);

}  // namespace platform
