#include "platform/app_files.h"

#include <gtest/gtest.h>

namespace {

struct ExtensionCase {
  const char* path;
  const char* expected;
};

TEST(AppFilesTest, ReplacesOnlyTheLastExtensionOfTheFileName) {
  const ExtensionCase cases[] = {
      {"/opt/quorvel/quorvel.exe", "/opt/quorvel/quorvel.dat"},
      {"/opt/quorvel/prog.beta.exe", "/opt/quorvel/prog.beta.dat"},
      {"/home/u/tools.old/prog", "/home/u/tools.old/prog.dat"},
      {"/usr/bin/quorvel", "/usr/bin/quorvel.dat"},
      {"quorvel", "quorvel.dat"},
      {"", ".dat"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::ReplaceLastExtension(c.path, ".dat"), c.expected) << c.path;
}

TEST(AppFilesTest, SiblingReplacesEverythingAfterTheLastSlash) {
  EXPECT_EQ(platform::SiblingPath("/opt/q/quorvel", "services"), "/opt/q/services");
  EXPECT_EQ(platform::SiblingPath("/quorvel", "services"), "/services");
  EXPECT_EQ(platform::SiblingPath("quorvel", "services"), "services");
}

TEST(AppFilesTest, FilesLiveBesideTheRunningExecutable) {
  const std::string exe = platform::ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_EQ(platform::SettingsFilePath(), platform::ReplaceLastExtension(exe, ".dat"));
  EXPECT_EQ(platform::CrashReportFilePath(), platform::ReplaceLastExtension(exe, ".RPT"));
  EXPECT_EQ(platform::ServicesFilePath(), platform::SiblingPath(exe, "services"));
}

}  // namespace
