#include "platform/whole_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace platform {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  bool Close() {
    if (fd_ < 0) return true;
    const bool closed = close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

}  // namespace

ReadOutcome ReadWholeFile(const std::string& path, std::string& content) {
  // Non-blocking, so that a named pipe in place of the file cannot hang us.
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) return (errno == ENOENT || errno == ENOTDIR) ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  struct stat info {};
  if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return ReadOutcome::kFailed;
  content.clear();
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(file.get(), chunk, sizeof chunk);
    if (got == 0) return ReadOutcome::kRead;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadOutcome::kFailed;
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = write(fd, data.data(), data.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// A settings file replaced by a link to elsewhere keeps being a link: the
// write goes to where it points.
std::string ResolvedTarget(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// An existing file's mode and owner, carried over to its replacement.
struct ExistingFile {
  bool exists = false;
  struct stat info {};
};

// Only a privileged writer can give the file back to another owner, and it
// must, or that owner could no longer save their own settings.
void KeepOwner(int fd, const struct stat& info) {
  if (info.st_uid == geteuid() && info.st_gid == getegid()) return;
  if (fchown(fd, info.st_uid, info.st_gid) != 0) return;  // not privileged: the file is ours now
}

constexpr std::string_view kTemporaryMark = ".tmp-";

// A fresh temporary file beside `path`, named `path`.tmp-PID-N after the
// process that writes it; a name left behind by an earlier crash is
// skipped rather than reused.
int CreateTemporaryBeside(const std::string& path, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = path + std::string(kTemporaryMark) + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The writer's process id in a temporary file's name after its mark
// ("PID-N"); 0 when the rest is not of that form.
pid_t WriterOfTemporary(std::string_view rest) {
  const auto dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size()) return 0;
  const auto allDigits = [](std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!allDigits(rest.substr(0, dash)) || !allDigits(rest.substr(dash + 1)) || dash > 9) return 0;
  return static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
}

bool ProcessIsAlive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// Temporary files beside `path` that a writer left when it was killed
// mid-write: ours, regular, and named after a process that no longer runs.
// One whose writer still runs may be about to be renamed into place.
void RemoveStaleTemporaries(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + std::string(kTemporaryMark);
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (const dirent* item = readdir(listing)) {
    const std::string_view name = item->d_name;
    if (name.substr(0, prefix.size()) != prefix) continue;
    const pid_t writer = WriterOfTemporary(name.substr(prefix.size()));
    struct stat info {};
    if (writer <= 0 || ProcessIsAlive(writer)) continue;
    if (fstatat(dirfd(listing), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode) && info.st_uid == geteuid()) unlinkat(dirfd(listing), item->d_name, 0);
  }
  closedir(listing);
}

bool FillTemporary(int fd, std::string_view content, const ExistingFile& existing) {
  if (existing.exists) {
    if (fchmod(fd, existing.info.st_mode & 07777) != 0) return false;
    KeepOwner(fd, existing.info);
  }
  // Without the sync a power cut after the rename could leave an empty file.
  return WriteAll(fd, content) && fsync(fd) == 0;
}

bool ReplaceFile(const std::string& path, std::string_view content, const ExistingFile& existing) {
  RemoveStaleTemporaries(path);
  std::string tempPath;
  FileDescriptor temp(CreateTemporaryBeside(path, tempPath));
  if (!temp.valid()) return false;
  const bool filled = FillTemporary(temp.get(), content, existing);
  if (temp.Close() && filled && rename(tempPath.c_str(), path.c_str()) == 0) return true;
  unlink(tempPath.c_str());
  return false;
}

// The rename would succeed over a read-only file in a writable folder; the
// file's own permission decides instead, also for a privileged user.
bool IsReadOnly(const std::string& path, const struct stat& info) {
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0;
}

}  // namespace

bool RewriteFile(const std::string& path, const std::function<std::string(const std::string&)>& edit) {
  const std::string target = ResolvedTarget(path);
  ExistingFile existing;
  existing.exists = stat(target.c_str(), &existing.info) == 0;
  if (existing.exists && IsReadOnly(target, existing.info)) return false;
  std::string content;
  const ReadOutcome read = ReadWholeFile(target, content);
  if (read == ReadOutcome::kFailed || (read == ReadOutcome::kMissing && existing.exists)) return false;
  return ReplaceFile(target, edit(content), existing);
}

}  // namespace platform
