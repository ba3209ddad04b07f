// The files the program keeps (its settings, filters.dat), read and
// rewritten whole by a program run as root, in a shared folder such as
// /tmp: a link, named pipe or device that another user planted there leads
// nowhere, as the kernel's protected_symlinks and protected_fifos rules
// would have it whatever the system's settings.
#include "platform/whole_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/protected_open.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;
constexpr uid_t kNobody = 65534;

struct SharedFolderCase {
  const char* name;
  mode_t folderMode;
  uid_t folderOwner, entryOwner;
  bool trusted;
};

constexpr SharedFolderCase kCases[] = {
    {"another user's entry in a sticky shared folder", 01777, 0, kNobody, false},
    {"our own entry there", 01777, 0, 0, true},
    {"the folder owner's entry there", 01777, kNobody, kNobody, true},
    {"another user's entry in a folder that is not sticky", 0777, 0, kNobody, true},
    {"another user's entry in a sticky folder only its owner writes", 01755, 0, kNobody, true},
};

class PlantedEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to own entries as another user";
  }

  // The case's folder, made afresh.
  fs::path SharedFolder(const SharedFolderCase& c) const {
    const fs::path folder = m_folder.Path() / "shared";
    fs::remove_all(folder);
    fs::create_directory(folder);
    EXPECT_EQ(chmod(folder.c_str(), c.folderMode), 0);
    EXPECT_EQ(chown(folder.c_str(), c.folderOwner, c.folderOwner), 0);
    return folder;
  }
  static void Own(const fs::path& entry, uid_t owner) { EXPECT_EQ(lchown(entry.c_str(), owner, owner), 0) << entry; }

  fs::path Secret() const { return m_folder.Path() / "secret"; }
  void WriteSecret() const {
    std::ofstream(Secret(), std::ios::binary) << "root only";
    fs::permissions(Secret(), fs::perms::owner_read | fs::perms::owner_write);
  }
  std::string ReadSecret() const {
    std::ifstream file(Secret(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  TestFolder m_folder;
};

// Straight to the file, and through a link to a folder on the way. Where
// it is followed, the rewrite replaces the file it leads to and the link
// stays.
TEST_F(PlantedEntryTest, LinksAreFollowedOnlyWhenTrusted) {
  for (const SharedFolderCase& c : kCases) {
    for (const bool throughFolder : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (throughFolder ? ", a link to a folder" : ", a link to the file"));
      const fs::path link = SharedFolder(c) / (throughFolder ? "dir" : "quorvel.dat");
      WriteSecret();
      fs::create_symlink(throughFolder ? m_folder.Path() : Secret(), link);
      Own(link, c.entryOwner);
      const std::string path = throughFolder ? (link / "secret").string() : link.string();

      std::string content;
      EXPECT_EQ(platform::ReadWholeFile(path, content),
                c.trusted ? platform::ReadOutcome::kRead : platform::ReadOutcome::kFailed);
      EXPECT_EQ(content, c.trusted ? "root only" : "");
      EXPECT_EQ(platform::RewriteFile(path, [](const std::string& text) { return text + ", rewritten"; }),
                c.trusted);
      EXPECT_EQ(ReadSecret(), c.trusted ? "root only, rewritten" : "root only");
      EXPECT_TRUE(fs::is_symlink(link));
    }
  }
}

// Another user's pipe, with them reading, would take what a log writes; a
// device would act on the open.
TEST_F(PlantedEntryTest, PipesAndDevicesAreOpenedOnlyWhenTrusted) {
  for (const SharedFolderCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = SharedFolder(c);
    const fs::path pipe = folder / "pipe", device = folder / "device";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)  // the null device
      GTEST_SKIP() << "no device node can be made here: " << std::strerror(errno);
    Own(pipe, c.entryOwner);
    Own(device, c.entryOwner);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    for (const fs::path& entry : {pipe, device}) {
      const int fd = platform::OpenWithProtectedLinks(entry.c_str(), O_WRONLY | O_APPEND, 0);
      const int error = errno;
      EXPECT_EQ(fd >= 0, c.trusted) << entry;
      if (fd >= 0)
        close(fd);
      else
        EXPECT_EQ(error, EACCES) << entry;
    }
    close(reader);
  }
}

}  // namespace
