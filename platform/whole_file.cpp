#include "platform/whole_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>
#include <string_view>

#include "platform/protected_open.h"

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
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  bool Close() {
    if (fd_ < 0) return true;
    const bool closed = close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

// Non-blocking, so that a named pipe in place of the file cannot hang us.
// A link, pipe or device that another user planted in a shared folder such
// as /tmp is not followed: a program run as root would otherwise read, and
// write back, a file of their choosing.
int OpenExisting(const std::string& path) {
  return OpenWithProtectedLinks(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
}

// Straight into the text, sized by the file and one byte more, so that
// the read that finds the end has room; a file that grows meanwhile is
// read to its end all the same.
ReadOutcome ReadOpened(int fd, std::string& content, struct stat& info) {
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return ReadOutcome::kFailed;
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  for (std::size_t used = 0;;) {
    if (used == content.size()) content.resize(2 * used);
    const ssize_t got = read(fd, content.data() + used, content.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadOutcome::kFailed;
    if (got == 0) {
      content.resize(used);
      return ReadOutcome::kRead;
    }
    used += static_cast<std::size_t>(got);
  }
}

}  // namespace

ReadOutcome ReadWholeFile(const std::string& path, std::string& content) {
  FileDescriptor file(OpenExisting(path));
  if (!file.valid()) return (errno == ENOENT || errno == ENOTDIR) ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  struct stat info {};
  return ReadOpened(file.get(), content, info);
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

// Where a file is replaced: its folder, held open from the moment its path
// was looked up, and its name there. Every later step names the file
// relative to that folder, so that no link planted meanwhile leads a step
// elsewhere.
struct Place {
  FileDescriptor folder{-1};
  std::string name;
};

// The folder of `path` (its links followed as OpenExisting follows them)
// and the last name in it, which must name a file.
bool FindPlaceFor(const std::string& path, Place& place) {
  const auto slash = path.rfind('/');
  place.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (place.name.empty() || place.name == "." || place.name == "..") return false;
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  place.folder.Reset(OpenWithProtectedLinks(folder.c_str(), O_PATH | O_DIRECTORY, 0));
  return place.folder.valid();
}

// A settings file replaced by a link to elsewhere keeps being a link: the
// file that was opened through it is replaced where it lies. Its path
// comes from the system, and must still name that very file.
bool FindPlaceOf(int fd, const struct stat& opened, Place& place) {
  char real[PATH_MAX];
  const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), real, sizeof real);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof real || real[0] != '/') return false;
  struct stat named {};
  return FindPlaceFor(std::string(real, static_cast<std::size_t>(length)), place) &&
         fstatat(place.folder.get(), place.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
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

// A fresh temporary file beside the file, named NAME.tmp-PID-N after the
// process that writes it; a name left behind by an earlier crash is
// skipped rather than reused.
int CreateTemporaryBeside(const Place& place, std::string& tempName) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName = place.name + std::string(kTemporaryMark) + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd =
        openat(place.folder.get(), tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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

// Temporary files beside the file that a writer left when it was killed
// mid-write: ours, regular, and named after a process that no longer runs.
// One whose writer still runs may be about to be renamed into place.
void RemoveStaleTemporaries(const Place& place) {
  const std::string prefix = place.name + std::string(kTemporaryMark);
  const int folder = openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = folder < 0 ? nullptr : fdopendir(folder);
  if (listing == nullptr) {
    if (folder >= 0) close(folder);
    return;
  }
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

bool ReplaceFile(const Place& place, std::string_view content, const ExistingFile& existing) {
  RemoveStaleTemporaries(place);
  std::string tempName;
  FileDescriptor temp(CreateTemporaryBeside(place, tempName));
  if (!temp.valid()) return false;
  const bool filled = FillTemporary(temp.get(), content, existing);
  const int folder = place.folder.get();
  if (temp.Close() && filled && renameat(folder, tempName.c_str(), folder, place.name.c_str()) == 0) return true;
  unlinkat(folder, tempName.c_str(), 0);
  return false;
}

// The rename would succeed over a read-only file in a writable folder; the
// file's own permission decides instead, also for a privileged user.
bool IsReadOnly(const Place& place, const struct stat& info) {
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
         faccessat(place.folder.get(), place.name.c_str(), W_OK, 0) != 0;
}

}  // namespace

bool RewriteFile(const std::string& path, const std::function<std::string(const std::string&)>& edit) {
  FileDescriptor file(OpenExisting(path));
  ExistingFile existing;
  std::string content;
  Place place;
  if (file.valid()) {
    existing.exists = true;
    if (ReadOpened(file.get(), content, existing.info) != ReadOutcome::kRead) return false;
    if (!FindPlaceOf(file.get(), existing.info, place) || IsReadOnly(place, existing.info)) return false;
  } else if (errno != ENOENT || !FindPlaceFor(path, place)) {
    return false;
  }
  return ReplaceFile(place, edit(content), existing);
}

}  // namespace platform
