#include "platform/adapter_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace platform {

namespace {

// A holder that releases unlinks the file; one that opened the old file just
// before may then lock a file nobody else can find. Such a lock is dropped
// and taken again on the new file, a few times at most.
constexpr int kAttempts = 8;

bool SameFile(int fd, const std::string& path) {
  struct stat opened {}, named {};
  if (fstat(fd, &opened) != 0 || stat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::string AdapterLockName(std::string_view device) {
  std::string name = "qv_";
  for (const char c : device) name += (c == '\\' || c == '/' || c == ':') ? '_' : c;
  return name;
}

std::string AdapterLockPath(std::string_view device) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime != nullptr && *runtime != '\0' ? runtime : "/tmp";
  return folder + "/" + AdapterLockName(device);
}

AdapterLock::AdapterLock(AdapterLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

AdapterLock& AdapterLock::operator=(AdapterLock&& other) noexcept {
  if (this != &other) {
    Release();
    m_fd = std::exchange(other.m_fd, -1);
    m_path = std::move(other.m_path);
  }
  return *this;
}

AdapterLock::Outcome AdapterLock::Acquire(std::string_view device) {
  Release();
  const std::string path = AdapterLockPath(device);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Not following a link: in a shared /tmp the name may have been planted.
    // Close-on-exec, so that a program started from the monitor (a browser
    // for the help) never keeps the adapter after the monitor has gone.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Outcome::kNoGuard;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      return error == EWOULDBLOCK ? Outcome::kInUse : Outcome::kNoGuard;
    }
    if (SameFile(fd, path)) {
      m_fd = fd;
      m_path = path;
      return Outcome::kAcquired;
    }
    close(fd);
  }
  return Outcome::kNoGuard;
}

// The file goes while it is still locked, so that no one can lock it
// between the unlink and the close and believe it holds the adapter.
void AdapterLock::Release() {
  if (m_fd < 0) return;
  if (SameFile(m_fd, m_path)) unlink(m_path.c_str());
  close(m_fd);
  m_fd = -1;
  m_path.clear();
}

}  // namespace platform
