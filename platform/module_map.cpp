#include "platform/module_map.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr std::size_t kMaxRegions = 8192;
constexpr std::size_t kPathPoolBytes = 256 * 1024;
constexpr std::size_t kSectionsPerRead = 64;

MappedRegion g_regions[kMaxRegions];
std::size_t g_regionCount = 0;
char g_paths[kPathPoolBytes];
std::size_t g_pathsUsed = 0;
char g_mapsText[16384];
Elf64_Shdr g_sections[kSectionsPerRead];

std::uint64_t ParseHex(const char*& p, const char* end) {
  std::uint64_t value = 0;
  for (; p < end; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') value = value << 4 | static_cast<std::uint64_t>(c - '0');
    else if (c >= 'a' && c <= 'f') value = value << 4 | static_cast<std::uint64_t>(c - 'a' + 10);
    else break;
  }
  return value;
}

void SkipField(const char*& p, const char* end) {
  while (p < end && *p != ' ') ++p;
  while (p < end && *p == ' ') ++p;
}

// Consecutive mappings of one file share its stored path.
const char* StorePath(const char* path, std::size_t length) {
  if (length == 0) return "";
  if (g_regionCount > 0) {
    const char* previous = g_regions[g_regionCount - 1].path;
    if (std::strlen(previous) == length && std::memcmp(previous, path, length) == 0) return previous;
  }
  if (kPathPoolBytes - g_pathsUsed < length + 1) return "";
  char* stored = g_paths + g_pathsUsed;
  std::memcpy(stored, path, length);
  stored[length] = '\0';
  g_pathsUsed += length + 1;
  return stored;
}

// "start-end perms offset dev inode   path"
void AddRegion(const char* line, const char* end) {
  if (g_regionCount == kMaxRegions) return;
  MappedRegion region;
  const char* p = line;
  region.start = ParseHex(p, end);
  if (p == end || *p++ != '-') return;
  region.end = ParseHex(p, end);
  if (end - p < 5) return;
  region.readable = p[1] == 'r';
  region.writable = p[2] == 'w';
  p += 1;
  SkipField(p, end);
  region.fileOffset = ParseHex(p, end);
  SkipField(p, end);  // offset
  SkipField(p, end);  // device
  SkipField(p, end);  // inode
  region.path = StorePath(p, static_cast<std::size_t>(end - p));
  g_regions[g_regionCount++] = region;
}

bool ReadAt(int fd, void* destination, std::size_t size, std::uint64_t offset) {
  ssize_t got;
  do got = pread(fd, destination, size, static_cast<off_t>(offset));
  while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(size);
}

bool ReadElfHeader(int fd, Elf64_Ehdr& header) {
  return ReadAt(fd, &header, sizeof header, 0) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
         header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_phentsize == sizeof(Elf64_Phdr) &&
         header.e_shentsize == sizeof(Elf64_Shdr);
}

// The address as the module was linked: the loaded segment that holds the
// address's file offset tells how far the module was moved.
bool FindLinkedAddress(int fd, const Elf64_Ehdr& header, const MappedRegion& region, std::uint64_t address,
                       std::uint64_t& linked) {
  const std::uint64_t fileOffset = region.fileOffset + (address - region.start);
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    if (!ReadAt(fd, &segment, sizeof segment, header.e_phoff + i * sizeof segment)) return false;
    if (segment.p_type != PT_LOAD || fileOffset < segment.p_offset ||
        fileOffset - segment.p_offset >= segment.p_filesz)
      continue;
    linked = segment.p_vaddr + (fileOffset - segment.p_offset);
    return true;
  }
  return false;
}

// Sections that take room in memory; thread-local zero data (.tbss) takes
// none and would seem to overlap what follows it.
bool HoldsLinkedAddress(const Elf64_Shdr& section, std::uint64_t linked) {
  if ((section.sh_flags & SHF_ALLOC) == 0) return false;
  if (section.sh_type == SHT_NOBITS && (section.sh_flags & SHF_TLS) != 0) return false;
  return linked >= section.sh_addr && linked - section.sh_addr < section.sh_size;
}

void FindSection(int fd, const Elf64_Ehdr& header, std::uint64_t linked, LogicalAddress& result) {
  for (unsigned first = 0; first < header.e_shnum; first += kSectionsPerRead) {
    const unsigned count = std::min<unsigned>(kSectionsPerRead, header.e_shnum - first);
    if (!ReadAt(fd, g_sections, count * sizeof(Elf64_Shdr), header.e_shoff + first * sizeof(Elf64_Shdr)))
      return;
    for (unsigned i = 0; i < count; ++i) {
      if (first + i == 0 || !HoldsLinkedAddress(g_sections[i], linked)) continue;
      result.section = first + i;
      result.offset = linked - g_sections[i].sh_addr;
      return;
    }
  }
}

}  // namespace

bool TakeMemoryMap() {
  g_regionCount = 0;
  g_pathsUsed = 0;
  const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t kept = 0;
  for (;;) {
    const ssize_t got = read(fd, g_mapsText + kept, sizeof g_mapsText - kept);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const char* const end = g_mapsText + kept + got;
    const char* line = g_mapsText;
    for (const char* newline; (newline = static_cast<const char*>(std::memchr(line, '\n', end - line)));
         line = newline + 1)
      AddRegion(line, newline);
    kept = static_cast<std::size_t>(end - line);
    if (kept == sizeof g_mapsText) kept = 0;  // no line is this long; drop it
    std::memmove(g_mapsText, line, kept);
  }
  close(fd);
  return g_regionCount > 0;
}

const MappedRegion* FindMappedRegion(std::uint64_t address) {
  const MappedRegion* const begin = g_regions;
  const MappedRegion* const end = begin + g_regionCount;
  const MappedRegion* region =
      std::upper_bound(begin, end, address, [](std::uint64_t a, const MappedRegion& r) { return a < r.end; });
  return region != end && address >= region->start ? region : nullptr;
}

LogicalAddress FindLogicalAddress(std::uint64_t address) {
  LogicalAddress result;
  const MappedRegion* region = FindMappedRegion(address);
  if (region == nullptr || region->path[0] != '/') return result;
  result.module = region->path;
  const int fd = open(region->path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return result;
  Elf64_Ehdr header;
  std::uint64_t linked = 0;
  if (ReadElfHeader(fd, header) && FindLinkedAddress(fd, header, *region, address, linked))
    FindSection(fd, header, linked, result);
  close(fd);
  return result;
}

}  // namespace platform
