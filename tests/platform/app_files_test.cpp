#include "platform/app_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// Each user folder follows the base directory rules: its variable when that
// holds an absolute path, else its place in the home folder.
TEST(AppFilesTest, UserFoldersFollowTheBaseDirectoryRules) {
  const ScopedVariable home("HOME", "/home/u");
  struct Folder {
    const char* variable;
    std::string (*path)();
    const char* inHome;
  };
  const Folder folders[] = {
      {"XDG_CONFIG_HOME", platform::UserConfigFolderPath, "/home/u/.config/quorvel"},
      {"XDG_STATE_HOME", platform::UserStateFolderPath, "/home/u/.local/state/quorvel"},
  };
  const std::optional<std::string> ignored[] = {std::nullopt, "", "relative/folder"};
  for (const Folder& folder : folders) {
    for (const auto& value : ignored) {
      const ScopedVariable variable(folder.variable, value);
      EXPECT_EQ(folder.path(), folder.inHome) << folder.variable << "=" << value.value_or("(unset)");
    }
    const ScopedVariable variable(folder.variable, "/var/mine");
    EXPECT_EQ(folder.path(), "/var/mine/quorvel") << folder.variable;
  }
  const ScopedVariable stateHome("XDG_STATE_HOME", "/var/state");
  const std::string report = platform::CrashReportFilePath();
  EXPECT_EQ(platform::FallbackCrashReportFilePath(), "/var/state/quorvel/" + report.substr(report.rfind('/') + 1));
}

// An installed program is one whose folder has share/quorvel beside it; the
// build tree has no such folder.
TEST(AppFilesTest, InstalledDataFolderIsShareQuorvelBesideTheProgramsFolder) {
  namespace fs = std::filesystem;
  std::string pattern = ::testing::TempDir() + "quorvel-layout-XXXXXX";
  const fs::path root = mkdtemp(pattern.data());
  fs::create_directories(root / "usr/bin");
  fs::create_directories(root / "usr/share/quorvel");
  fs::create_directories(root / "build/bin");
  fs::create_directories(root / "odd/bin");
  fs::create_directories(root / "odd/share");
  std::ofstream(root / "odd/share/quorvel") << "a file, not a folder";
  struct Case {
    std::string executable;
    std::string expected;
  };
  const Case cases[] = {
      {(root / "usr/bin/quorvel").string(), (root / "usr/share/quorvel").string()},
      {(root / "build/bin/quorvel").string(), ""},
      {(root / "odd/bin/quorvel").string(), ""},
      {"/quorvel", ""},
      {"quorvel", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::InstalledDataFolder(c.executable), c.expected) << c.executable;
  EXPECT_FALSE(platform::IsInstalled()) << "the tests run from the build tree";
  fs::remove_all(root);
}

TEST(AppFilesTest, MakesMissingUserFoldersPrivate) {
  namespace fs = std::filesystem;
  std::string pattern = ::testing::TempDir() + "quorvel-folders-XXXXXX";
  const fs::path root = mkdtemp(pattern.data());
  fs::create_directory(root / "shared");
  fs::permissions(root / "shared", fs::perms::all);
  platform::MakeUserFolders((root / "shared/a/b").c_str());
  EXPECT_EQ(fs::status(root / "shared/a").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(root / "shared/a/b").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(root / "shared").permissions(), fs::perms::all) << "an existing folder stays as it is";
  fs::remove_all(root);
}

}  // namespace
