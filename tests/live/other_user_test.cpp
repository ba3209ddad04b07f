// The copies that tests run as another user: they run where the build's
// own programs lie out of that user's reach, as in a clone under a folder
// of mode 0700.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/other_user.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(OtherUserTest, CopiesRunWhereTheOriginalsAreOutOfReach) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
  const TestFolder build, copies;
  const fs::path hidden = build.Path() / "private";
  fs::create_directory(hidden);
  fs::permissions(hidden, fs::perms::owner_all);
  const fs::path program = hidden / "true";
  fs::copy_file("/bin/true", program);

  EXPECT_NE(other_user::WhyOutOfReach(program, kNobody).find("Permission denied"), std::string::npos);
  ASSERT_EQ(other_user::CopyRunnableBy(kNobody, copies.Path(), {program}), "");
  const std::string copy = (copies.Path() / "true").string();
  ChildProcess child = ChildProcess::Fork([&] {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return 120;
    execl(copy.c_str(), "true", nullptr);
    return 121;
  });
  const int status = child.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
