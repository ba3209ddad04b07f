#include "platform/adapter_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "support/child_process.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;
using Outcome = platform::AdapterLock::Outcome;

TEST(AdapterLockName, ReplacesEverySeparatorOfADeviceName) {
  struct Case {
    const char* device;
    const char* name;
  };
  const Case cases[] = {
      {"eth0", "qv_eth0"},
      {"\\Device\\NPF_{6A1B}", "qv__Device_NPF_{6A1B}"},
      {"usb:1/2:3", "qv_usb_1_2_3"},
      {"", "qv_"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::AdapterLockName(c.device), c.name) << c.device;
}

// A folder of the test's own stands for the user's runtime folder.
class AdapterLockTest : public ::testing::Test {
 protected:
  AdapterLockTest() {
    const char* previous = getenv("XDG_RUNTIME_DIR");
    if (previous != nullptr) previous_ = previous;
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  ~AdapterLockTest() override {
    if (previous_.empty())
      unsetenv("XDG_RUNTIME_DIR");
    else
      setenv("XDG_RUNTIME_DIR", previous_.c_str(), 1);
  }

  TestFolder folderGuard_;
  std::string folder_ = folderGuard_.Path().string();
  std::string previous_;
};

TEST_F(AdapterLockTest, OneHolderPerAdapterUntilItReleases) {
  platform::AdapterLock first, second, elsewhere;
  ASSERT_EQ(first.Acquire("eth:0"), Outcome::kAcquired);
  EXPECT_TRUE(std::filesystem::exists(folder_ + "/qv_eth_0"));
  EXPECT_EQ(second.Acquire("eth:0"), Outcome::kInUse);
  EXPECT_FALSE(second.Held());
  EXPECT_EQ(elsewhere.Acquire("eth:1"), Outcome::kAcquired);

  first.Release();
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/qv_eth_0"));
  EXPECT_EQ(second.Acquire("eth:0"), Outcome::kAcquired);
  platform::AdapterLock moved = std::move(second);
  EXPECT_EQ(first.Acquire("eth:0"), Outcome::kInUse);
}

// Another process sees the lock, and a holder that is killed leaves the
// adapter free.
TEST_F(AdapterLockTest, HolderThatDiesFreesTheAdapter) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  ChildProcess holder = ChildProcess::Fork([&] {
    platform::AdapterLock lock;
    const char held = lock.Acquire("veth7") == Outcome::kAcquired ? 'y' : 'n';
    [[maybe_unused]] const ssize_t written = write(ready[1], &held, 1);
    pause();
    return 0;
  });
  char held = 0;
  const ssize_t got = read(ready[0], &held, 1);
  close(ready[0]);
  close(ready[1]);
  ASSERT_EQ(got, 1);
  ASSERT_EQ(held, 'y');
  platform::AdapterLock lock;
  EXPECT_EQ(lock.Acquire("veth7"), Outcome::kInUse);
  holder.Kill();
  EXPECT_EQ(lock.Acquire("veth7"), Outcome::kAcquired);
}

TEST_F(AdapterLockTest, FolderWithoutRoomLeavesTheAdapterUnguarded) {
  setenv("XDG_RUNTIME_DIR", (folder_ + "/missing").c_str(), 1);
  platform::AdapterLock lock;
  EXPECT_EQ(lock.Acquire("eth0"), Outcome::kNoGuard);
  EXPECT_FALSE(lock.Held());
}

// Without a runtime folder the locks go to a folder of the user's own in a
// place everyone shares. Whatever someone else prepared there is never
// followed, written or locked: a folder that is not the user's own leaves
// the adapter unguarded (and the window says so), and a lock that is there
// but cannot be opened counts as in use.
class SharedFolderLockTest : public ::testing::Test {
 protected:
  SharedFolderLockTest() {
    std::string pattern = ::testing::TempDir() + "quorvel-shared-XXXXXX";
    shared_ = mkdtemp(pattern.data());
    fs::permissions(shared_, fs::perms::all | fs::perms::sticky_bit);  // as /tmp
    elsewhere_ = shared_ / "elsewhere";
    fs::create_directory(elsewhere_);
    if (const char* value = getenv("XDG_RUNTIME_DIR")) runtime_ = value;
    if (const char* value = getenv("TMPDIR")) temporary_ = value;
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", shared_.c_str(), 1);
    own_ = platform::AdapterLockFolder();
  }
  ~SharedFolderLockTest() override {
    Restore("XDG_RUNTIME_DIR", runtime_);
    Restore("TMPDIR", temporary_);
    fs::remove_all(shared_);
  }

  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }

  // Another user's doing (nobody's); only root can act for them.
  static void GiveAway(const fs::path& path) { ASSERT_EQ(lchown(path.c_str(), kNobody, kNobody), 0) << path; }

  static constexpr uid_t kNobody = 65534;
  fs::path shared_, elsewhere_, own_;
  std::optional<std::string> runtime_, temporary_;
};

TEST_F(SharedFolderLockTest, MakesAPrivateFolderOfItsOwn) {
  EXPECT_EQ(own_, shared_ / ("quorvel-" + std::to_string(geteuid())));
  platform::AdapterLock lock, second;
  ASSERT_EQ(lock.Acquire("eth0"), Outcome::kAcquired);
  EXPECT_EQ(fs::status(own_).permissions(), fs::perms::owner_all);
  EXPECT_TRUE(fs::exists(own_ / "qv_eth0"));
  EXPECT_EQ(second.Acquire("eth0"), Outcome::kInUse);
}

TEST_F(SharedFolderLockTest, WhatOthersPreparedIsNeverFollowed) {
  const bool root = geteuid() == 0;
  struct Case {
    const char* what;
    std::function<void()> prepare;
    Outcome expected;
    bool needsRoot;
  };
  const Case cases[] = {
      {"the folder is a link", [&] { fs::create_directory_symlink(elsewhere_, own_); }, Outcome::kNoGuard, false},
      {"the folder is open to everyone",
       [&] {
         fs::create_directory(own_);
         fs::permissions(own_, fs::perms::all);
       },
       Outcome::kNoGuard, false},
      {"the folder is a file", [&] { std::ofstream(own_.string()) << "x"; }, Outcome::kNoGuard, false},
      {"the folder belongs to another user",
       [&] {
         fs::create_directory(own_);
         fs::permissions(own_, fs::perms::owner_all);
         GiveAway(own_);
       },
       Outcome::kNoGuard, true},
      {"the folder is another user's link",
       [&] {
         fs::create_directory_symlink(elsewhere_, own_);
         GiveAway(own_);
       },
       Outcome::kNoGuard, true},
      {"the lock is a link",
       [&] {
         fs::create_directory(own_);
         fs::permissions(own_, fs::perms::owner_all);
         fs::create_symlink(elsewhere_ / "target", own_ / "qv_eth0");
       },
       Outcome::kInUse, false},
      {"the lock is a named pipe",
       [&] {
         fs::create_directory(own_);
         fs::permissions(own_, fs::perms::owner_all);
         ASSERT_EQ(mkfifo((own_ / "qv_eth0").c_str(), 0600), 0);
       },
       Outcome::kInUse, false},
      {"the lock cannot be opened",
       [&] {
         fs::create_directory(own_);
         fs::permissions(own_, fs::perms::owner_all);
         std::ofstream((own_ / "qv_eth0").string());
         fs::permissions(own_ / "qv_eth0", fs::perms::none);
       },
       root ? Outcome::kAcquired : Outcome::kInUse, false},  // root may open any file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root) continue;
    fs::remove_all(own_);
    fs::remove_all(elsewhere_);
    fs::create_directory(elsewhere_);
    c.prepare();
    platform::AdapterLock lock;
    EXPECT_EQ(lock.Acquire("eth0"), c.expected);
    EXPECT_TRUE(fs::is_empty(elsewhere_)) << "nothing made where a link points";
  }
}

}  // namespace
