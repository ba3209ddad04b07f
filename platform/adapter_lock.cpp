#include "platform/adapter_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/app_files.h"

namespace platform {

namespace {

// A holder that releases unlinks the file; one that opened the old file just
// before may then lock a file nobody else can find. Such a lock is dropped
// and taken again on the new file, a few times at most.
constexpr int kAttempts = 8;

// The session made the runtime folder for this user alone. A folder in a
// shared place could have been made by anyone: it is made here when
// missing, never followed when it is a link, and refused unless it belongs
// to this user and no one else may change it.
int OpenLockFolder() {
  const std::string runtime = RuntimeFolderPath();
  if (!runtime.empty()) return open(runtime.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::string folder = PrivateTemporaryFolderPath();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat status {};
  if (fd >= 0 && fstat(fd, &status) == 0 && status.st_uid == geteuid() && (status.st_mode & 077) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool Exists(int folderFd, const std::string& name) {
  struct stat status {};
  return fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool SameFile(int fd, int folderFd, const std::string& name) {
  struct stat opened {}, named {};
  if (fstat(fd, &opened) != 0 || fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool IsRegularFile(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::string AdapterLockName(std::string_view device) {
  std::string name = "qv_";
  for (const char c : device) name += (c == '\\' || c == '/' || c == ':') ? '_' : c;
  return name;
}

std::string AdapterLockFolder() {
  const std::string runtime = RuntimeFolderPath();
  return runtime.empty() ? PrivateTemporaryFolderPath() : runtime;
}

std::string AdapterLockPath(std::string_view device) { return AdapterLockFolder() + "/" + AdapterLockName(device); }

AdapterLock::AdapterLock(AdapterLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_folderFd(std::exchange(other.m_folderFd, -1)),
      m_name(std::move(other.m_name)) {}

AdapterLock& AdapterLock::operator=(AdapterLock&& other) noexcept {
  if (this != &other) {
    Release();
    m_fd = std::exchange(other.m_fd, -1);
    m_folderFd = std::exchange(other.m_folderFd, -1);
    m_name = std::move(other.m_name);
  }
  return *this;
}

AdapterLock::Outcome AdapterLock::Acquire(std::string_view device) {
  Release();
  const int folderFd = OpenLockFolder();
  if (folderFd < 0) return Outcome::kNoGuard;
  const std::string name = AdapterLockName(device);
  Outcome outcome = Outcome::kNoGuard;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Never through a link, never blocking on something that is not a file.
    // Close-on-exec, so that a program started from the monitor (a browser
    // for the help) never keeps the adapter after the monitor has gone.
    const int fd = openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
      // Whoever put something there that cannot be opened may be monitoring
      // the adapter: going on unguarded would let two monitors share it.
      outcome = Exists(folderFd, name) ? Outcome::kInUse : Outcome::kNoGuard;
      break;
    }
    if (!IsRegularFile(fd)) {
      close(fd);
      outcome = Outcome::kInUse;
      break;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      outcome = error == EWOULDBLOCK ? Outcome::kInUse : Outcome::kNoGuard;
      break;
    }
    if (SameFile(fd, folderFd, name)) {
      m_fd = fd;
      m_folderFd = folderFd;
      m_name = name;
      return Outcome::kAcquired;
    }
    close(fd);
  }
  close(folderFd);
  return outcome;
}

// The file goes while it is still locked, so that no one can lock it
// between the unlink and the close and believe it holds the adapter.
void AdapterLock::Release() {
  if (m_fd < 0) return;
  if (SameFile(m_fd, m_folderFd, m_name)) unlinkat(m_folderFd, m_name.c_str(), 0);
  close(m_fd);
  close(m_folderFd);
  m_fd = -1;
  m_folderFd = -1;
  m_name.clear();
}

}  // namespace platform
