// What a failed, crashed or killed test leaves behind goes: a child process
// with its guard, network namespaces and folders at the next test run, but
// never those of a test that still runs (another build's, maybe).
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/test_folder.h"
#include "test_network.h"

namespace {

// A process id that surely belongs to no running process.
pid_t GoneProcess() {
  ChildProcess child = ChildProcess::Fork([] { return 0; });
  const pid_t pid = child.Pid();
  child.Wait();
  return pid;
}

TEST(TestLeftoversTest, AChildGoesWithItsGuard) {
  pid_t pid = -1;
  {
    ChildProcess child = ChildProcess::Fork([] {
      pause();
      return 0;
    });
    pid = child.Pid();
    ASSERT_EQ(kill(pid, 0), 0);
  }
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH) << "neither running nor waiting to be reaped";
}

TEST(TestLeftoversTest, NamespacesOfTestsThatAreGoneAreRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to make network namespaces";
  const std::string gone = std::to_string(GoneProcess());
  const std::string stale[] = {"qvcap-" + gone + "-1", "qvsnd-" + gone + "-1",
                               "qvcap-1-1"};  // its maker runs, but is no test of ours
  const std::string kept[] = {"qvcap-" + std::to_string(getpid()) + "-901", "qvother-" + gone + "-1"};
  for (const auto& name : stale) ASSERT_EQ(std::system(("ip netns add " + name).c_str()), 0) << name;
  for (const auto& name : kept) ASSERT_EQ(std::system(("ip netns add " + name).c_str()), 0) << name;

  TestNetwork::RemoveStaleNamespaces();
  for (const auto& name : stale) EXPECT_FALSE(std::filesystem::exists("/run/netns/" + name)) << name;
  for (const auto& name : kept) {
    EXPECT_TRUE(std::filesystem::exists("/run/netns/" + name)) << name;
    std::system(("ip netns delete " + name).c_str());
  }
}

TEST(TestLeftoversTest, FoldersOfTestsThatAreGoneAreRemoved) {
  const std::filesystem::path temp = ::testing::TempDir();
  const std::string gone = std::to_string(GoneProcess());
  const std::filesystem::path stale = temp / ("quorvel-test-" + gone + "-1");
  const std::filesystem::path kept[] = {temp / ("quorvel-test-" + std::to_string(getpid()) + "-901"),
                                        temp / ("quorvel-testing-" + gone)};
  std::filesystem::create_directories(stale / "inside");
  for (const auto& folder : kept) std::filesystem::create_directories(folder);

  TestFolder::RemoveStaleFolders();
  EXPECT_FALSE(std::filesystem::exists(stale));
  for (const auto& folder : kept) {
    EXPECT_TRUE(std::filesystem::exists(folder)) << folder;
    std::filesystem::remove_all(folder);
  }
}

}  // namespace
