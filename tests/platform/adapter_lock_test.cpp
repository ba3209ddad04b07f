#include "platform/adapter_lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/test_folder.h"

namespace {

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

}  // namespace
