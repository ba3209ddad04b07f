#pragma once

// Programs that a test runs as another user (root only). The build tree may
// lie in a folder that only its owner may enter (a clone made under
// `mktemp -d`, a home folder of mode 0750), from where no one else can run
// anything; a copy in a folder of the test's own runs wherever the build is.
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// The user nobody, whom tests run programs as to see what a user with no
// rights gets.
inline constexpr uid_t kNobody = 65534;

namespace other_user {

// Why `user` (with the group of the same number) can neither run the
// program nor search the folder at `path`, or "" when they can. Asked of the system as that user, so that every
// folder on the way counts as it would for them.
inline std::string WhyOutOfReach(const std::filesystem::path& path, uid_t user) {
  constexpr int kCannotBecomeUser = 255;
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0) _exit(kCannotBecomeUser);
    _exit(access(path.c_str(), X_OK) == 0 ? 0 : errno);
  }
  int status = 0;
  const std::string who = "user " + std::to_string(user);
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return "could not ask whether " + who + " reaches " + path.string();
  const int code = WEXITSTATUS(status);
  if (code == 0) return {};
  if (code == kCannotBecomeUser) return "needs root, to act as " + who;
  return who + " cannot reach " + path.string() + ": " + std::strerror(code);
}

// Copies `programs` side by side into `folder` (a folder of the test's
// own, which everyone may then search), each one runnable by anyone as an
// installed program is. Why `user` still cannot run one of the copies (a
// folder above `folder` that they may not search), or "" when they can.
inline std::string CopyRunnableBy(uid_t user, const std::filesystem::path& folder,
                                  const std::vector<std::filesystem::path>& programs) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(folder, error);
  fs::permissions(folder, fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add, error);
  if (error) return "cannot open " + folder.string() + " to others: " + error.message();
  for (const fs::path& program : programs) {
    const fs::path copy = folder / program.filename();
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing, error);
    if (error) return "cannot copy " + program.string() + ": " + error.message();
    fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    if (std::string why = WhyOutOfReach(copy, user); !why.empty()) return why;
  }
  return {};
}

}  // namespace other_user
