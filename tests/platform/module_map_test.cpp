#include "platform/module_map.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/app_files.h"
#include "support/elf_sections.h"

extern "C" const char __executable_start[];  // the program's ELF header, from the linker

namespace {

[[gnu::noinline]] int LookedUpFunction(int x) { return x * 3 + 1; }

std::uint64_t AddressOf(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

std::string SectionName(const platform::LogicalAddress& logical) {
  const auto names = ElfSectionNames(logical.module);
  return logical.section < names.size() ? names[logical.section] : "<none>";
}

TEST(ModuleMapTest, CodeOfThisProgramIsFoundInItsTextAsLinked) {
  ASSERT_TRUE(platform::TakeMemoryMap());
  const platform::LogicalAddress logical =
      platform::FindLogicalAddress(AddressOf(reinterpret_cast<const void*>(&LookedUpFunction)) + 4);
  EXPECT_EQ(logical.module, platform::ExecutablePath());
  EXPECT_EQ(SectionName(logical), ".text");
  EXPECT_THAT(FunctionAt(logical.module, ".text", logical.offset), testing::HasSubstr("LookedUpFunction"));
}

// A shared library is loaded wherever there was room: its load bias must
// come off too.
TEST(ModuleMapTest, CodeOfASharedLibraryIsFoundInItsText) {
  ASSERT_TRUE(platform::TakeMemoryMap());
  const platform::LogicalAddress logical = platform::FindLogicalAddress(AddressOf(reinterpret_cast<const void*>(&::getpid)));
  EXPECT_THAT(logical.module, testing::HasSubstr("libc.so"));
  EXPECT_EQ(SectionName(logical), ".text");
}

TEST(ModuleMapTest, AddressesOutsideAnySectionOrModule) {
  void* anonymous = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(anonymous, MAP_FAILED);
  ASSERT_TRUE(platform::TakeMemoryMap());

  const platform::LogicalAddress memory = platform::FindLogicalAddress(AddressOf(anonymous));
  EXPECT_EQ(memory.section, 0u);
  EXPECT_EQ(memory.offset, 0u);
  EXPECT_STREQ(memory.module, "");

  const platform::LogicalAddress unmapped = platform::FindLogicalAddress(8);
  EXPECT_EQ(unmapped.section, 0u);
  EXPECT_STREQ(unmapped.module, "");

  // The ELF header is mapped with the program but lies in no section.
  const platform::LogicalAddress header = platform::FindLogicalAddress(AddressOf(__executable_start));
  EXPECT_EQ(header.section, 0u);
  EXPECT_EQ(header.offset, 0u);
  EXPECT_EQ(header.module, platform::ExecutablePath());
  munmap(anonymous, 4096);
}

}  // namespace
