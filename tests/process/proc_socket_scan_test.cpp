#include "process/proc_socket_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "process/local_sockets.h"
#include "support/test_folder.h"

namespace {

TEST(ProcSocketScanTest, SocketInodeOfLink) {
  struct Case {
    const char* link;
    std::uint32_t inode;
  };
  for (const Case c : {Case{"socket:[12345]", 12345}, Case{"socket:[0]", 0}, Case{"socket:[4294967295]", 4294967295u},
                       Case{"socket:[4294967296]", 0}, Case{"socket:[]", 0}, Case{"socket:[12a]", 0},
                       Case{"socket:[12", 0}, Case{"pipe:[12345]", 0}, Case{"/dev/null", 0}, Case{"", 0}}) {
    EXPECT_EQ(SocketInodeOfLink(c.link, std::strlen(c.link)), c.inode) << c.link;
  }
}

// The test's own process holds its socket, under its own name.
TEST(ProcSocketScanTest, FindsTheTestsOwnSocketAndName) {
  LocalSocket socket(false, SOCK_DGRAM);
  ASSERT_TRUE(socket.Bind());
  ProcessSockets found;
  ASSERT_TRUE(ScanProcessSockets("/proc", found));
  const auto holder = std::find_if(found.holders.begin(), found.holders.end(),
                                   [&](const auto& held) { return held.inode == socket.Inode(); });
  ASSERT_NE(holder, found.holders.end());
  EXPECT_EQ(holder->pid, getpid());
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  const auto program = std::find_if(found.programs.begin(), found.programs.end(),
                                    [](const auto& known) { return known.pid == getpid(); });
  ASSERT_NE(program, found.programs.end());
  EXPECT_EQ(program->name, name);
  EXPECT_GT(found.processes, 1u);
}

// What is not a process, or cannot be read, is passed over: a folder laid
// out as /proc with a process whose descriptors are missing, a name that is
// no number, and one process with a socket and a pipe.
TEST(ProcSocketScanTest, PassesOverWhatItCannotRead) {
  TestFolder folder;
  const auto root = folder.Path();
  std::filesystem::create_directories(root / "7" / "fd");
  std::filesystem::create_symlink("socket:[99]", root / "7" / "fd" / "3");
  std::filesystem::create_symlink("pipe:[98]", root / "7" / "fd" / "4");
  std::ofstream(root / "7" / "comm") << "server\n";
  std::filesystem::create_directories(root / "8");  // no fd folder: ended, or not ours
  std::filesystem::create_directories(root / "self" / "fd");

  ProcessSockets found;
  ASSERT_TRUE(ScanProcessSockets(root.c_str(), found));
  ASSERT_EQ(found.holders.size(), 1u);
  EXPECT_EQ(found.holders[0].inode, 99u);
  EXPECT_EQ(found.holders[0].pid, 7);
  ASSERT_EQ(found.programs.size(), 1u);
  EXPECT_STREQ(found.programs[0].name, "server");
  EXPECT_EQ(found.processes, 2u);
  EXPECT_EQ(found.unreadable, 1u);
  EXPECT_FALSE(ScanProcessSockets((root / "missing").c_str(), found));
}

}  // namespace
