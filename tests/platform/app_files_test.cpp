#include "platform/app_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

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

// Sets an environment variable (or removes it, for nullopt) while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~ScopedVariable() {
    if (m_old) setenv(m_name, m_old->c_str(), 1);
    else unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

struct StateFolderCase {
  std::optional<std::string> stateHome;
  const char* expected;
};

TEST(AppFilesTest, UserStateFolderFollowsTheBaseDirectoryRules) {
  const ScopedVariable home("HOME", "/home/u");
  const StateFolderCase cases[] = {
      {"/var/state", "/var/state/quorvel"},
      {std::nullopt, "/home/u/.local/state/quorvel"},
      {"", "/home/u/.local/state/quorvel"},
      {"relative/state", "/home/u/.local/state/quorvel"},  // relative paths are ignored
  };
  for (const auto& c : cases) {
    const ScopedVariable stateHome("XDG_STATE_HOME", c.stateHome);
    EXPECT_EQ(platform::UserStateFolderPath(), c.expected) << c.stateHome.value_or("(unset)");
  }
  const ScopedVariable stateHome("XDG_STATE_HOME", "/var/state");
  const std::string report = platform::CrashReportFilePath();
  EXPECT_EQ(platform::FallbackCrashReportFilePath(), "/var/state/quorvel/" + report.substr(report.rfind('/') + 1));
}

}  // namespace
