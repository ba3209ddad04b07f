#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "support/test_processes.h"

// A fresh folder of the test's own under the test temp folder, named
// "quorvel-test-PID-N" after the test process, and gone with the object.
// The first one a process makes also removes the folders of tests that no
// longer run: those a crashed or killed test could not remove itself.
class TestFolder {
 public:
  static constexpr const char* kPrefix = "quorvel-test-";

  TestFolder() {
    static const bool staleRemoved = (RemoveStaleFolders(), true);
    (void)staleRemoved;
    static std::atomic<int> counter{0};
    m_path = std::filesystem::path(::testing::TempDir()) /
             (kPrefix + std::to_string(getpid()) + "-" + std::to_string(++counter));
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
    if (!std::filesystem::create_directories(m_path, error)) ADD_FAILURE() << "no folder " << m_path << ": " << error;
  }
  ~TestFolder() {
    std::error_code ignored;
    // A test may have left its folder read-only.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(m_path, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }

  // Removes the folders of tests that no longer run.
  static void RemoveStaleFolders() {
    // The folders first, then the tests that run: a test that starts in
    // between makes its folder too late to be taken for stale.
    std::vector<std::pair<std::filesystem::path, long>> named;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(::testing::TempDir(), error)) {
      const long maker = test_processes::MakerOf(entry.path().filename().string(), kPrefix);
      if (maker > 0) named.emplace_back(entry.path(), maker);
    }
    const auto running = test_processes::RunningTests();
    for (const auto& [path, maker] : named) {
      if (test_processes::MakerMayRun(running, maker)) continue;
      // Only our own: a folder someone else put there under such a name is
      // theirs to remove.
      struct stat info {};
      if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) continue;
      std::filesystem::remove_all(path, error);
    }
  }

 private:
  std::filesystem::path m_path;
};
