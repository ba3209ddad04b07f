#include "platform/protected_open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

namespace platform {
namespace {

// As the kernel's own limit on links in one lookup.
constexpr int kMaxLinks = 40;

class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() { Reset(-1); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return m_fd; }
  int Release() { return std::exchange(m_fd, -1); }
  void Reset(int fd) {
    if (m_fd >= 0) close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

// The names between slashes, "." and ".." included; a path that ends in a
// slash names a folder, so it ends in ".".
void PushComponents(std::string_view path, std::deque<std::string>& pending) {
  std::deque<std::string> components;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) components.emplace_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  if (!path.empty() && path.back() == '/') components.emplace_back(".");
  pending.insert(pending.begin(), components.begin(), components.end());
}

// Whether an entry of `folder` may be used: always, but in a folder that
// anyone may write to and that has the sticky bit only when it belongs to
// us or to the folder's owner.
bool Trusted(int folder, const struct stat& entry) {
  struct stat info {};
  if (fstat(folder, &info) != 0) return false;
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return !shared || entry.st_uid == geteuid() || entry.st_uid == info.st_uid;
}

int Fail(int error) {
  errno = error;
  return -1;
}

// What a planted entry could make of an open: a FIFO never read blocks its
// writer, a device does what its driver does.
bool IsFifoOrDevice(const struct stat& entry) {
  return S_ISFIFO(entry.st_mode) || S_ISCHR(entry.st_mode) || S_ISBLK(entry.st_mode);
}

// The flags that keep an open from waiting for a FIFO's other end or
// making a terminal ours; a descriptor that only names a file (O_PATH)
// takes no others.
int NeverWaiting(int flags) { return (flags & O_PATH) != 0 ? 0 : O_NONBLOCK | O_NOCTTY; }

// Gives back the blocking the caller asked for.
bool RestoreBlocking(int fd, int flags) {
  if ((NeverWaiting(flags) & ~flags & O_NONBLOCK) == 0) return true;
  return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
}

// The last name of the path, a link no more. Looked at before the open, so
// that a device that may not be used is never opened, and judged again on
// what was opened, which may have been put in its place in between.
int OpenLast(int folder, const std::string& name, int flags, mode_t mode) {
  struct stat entry {};
  if (fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && IsFifoOrDevice(entry) &&
      !Trusted(folder, entry))
    return Fail(EACCES);
  Descriptor opened(openat(folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | NeverWaiting(flags), mode));
  if (opened.Get() < 0) return -1;
  if (fstat(opened.Get(), &entry) != 0) return -1;
  if (IsFifoOrDevice(entry) && !Trusted(folder, entry)) return Fail(EACCES);
  if (!RestoreBlocking(opened.Get(), flags)) return -1;
  return opened.Release();
}

// Most paths hold no link and lead to an ordinary file or folder: one
// lookup that follows no link settles them, where the walk below takes two
// calls a name. The answer, or kWalk when only the walk can give it: a link
// on the way, a pipe or device at the end, or a system without openat2. A
// pipe is opened without waiting for its other end, and only to be closed.
constexpr int kWalk = -2;

int OpenWithoutLinks(const char* path, int flags, mode_t mode) {
  struct stat entry {};
  if (lstat(path, &entry) == 0 && IsFifoOrDevice(entry)) return kWalk;
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC | NeverWaiting(flags));
  how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS;
  const int fd = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
  if (fd < 0) {
    const bool walkTells = errno == ELOOP || errno == ENXIO || errno == ENOSYS || errno == EPERM ||
                           errno == EINVAL || errno == E2BIG;
    return walkTells ? kWalk : -1;
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || IsFifoOrDevice(opened)) {
    close(fd);
    return kWalk;
  }
  if (!RestoreBlocking(fd, flags)) {
    close(fd);
    return -1;
  }
  return fd;
}

int OpenByWalk(const char* path, int flags, mode_t mode) {
  const std::string_view whole = path;
  if (whole.empty()) return Fail(ENOENT);
  std::deque<std::string> pending;
  PushComponents(whole, pending);
  if (pending.empty()) pending.emplace_back(".");  // "/" itself
  Descriptor folder(open(whole.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) return -1;
  // Each link followed counts, and so does each time an entry changed into
  // a link between our look and our open, so that neither loops for ever.
  for (int links = 0; !pending.empty();) {
    const std::string name = std::move(pending.front());
    pending.pop_front();
    struct stat entry {};
    const bool found = fstatat(folder.Get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
    if (found && S_ISLNK(entry.st_mode)) {
      if (++links > kMaxLinks) return Fail(ELOOP);
      if (!Trusted(folder.Get(), entry)) return Fail(EACCES);
      std::string target(static_cast<std::size_t>(entry.st_size) + 1, '\0');
      const ssize_t length = readlinkat(folder.Get(), name.c_str(), target.data(), target.size());
      if (length < 0) return -1;
      if (static_cast<std::size_t>(length) >= target.size()) return Fail(ELOOP);  // changed meanwhile
      target.resize(static_cast<std::size_t>(length));
      if (target.empty()) return Fail(ENOENT);
      PushComponents(target, pending);
      if (target.front() == '/') folder.Reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (folder.Get() < 0) return -1;
      continue;
    }
    const bool last = pending.empty();
    const int opened = last ? OpenLast(folder.Get(), name, flags, mode)
                            : openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0 && errno == ELOOP && ++links <= kMaxLinks) {
      pending.push_front(name);  // it became a link: look again
      continue;
    }
    if (opened < 0 || last) return opened;
    folder.Reset(opened);
  }
  return Fail(ENOENT);
}

}  // namespace

int OpenWithProtectedLinks(const char* path, int flags, mode_t mode) {
  const int fd = OpenWithoutLinks(path, flags, mode);
  return fd == kWalk ? OpenByWalk(path, flags, mode) : fd;
}

}  // namespace platform
