#include "platform/protected_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <string>
#include <string_view>

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

bool MayFollow(int folder, const struct stat& link) {
  struct stat info {};
  if (fstat(folder, &info) != 0) return false;
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == geteuid() || link.st_uid == info.st_uid;
}

int Fail(int error) {
  errno = error;
  return -1;
}

// Another user's named pipe would take what we write, or hold up our open,
// and a device would act on it: in a shared folder they are judged as
// links are, before the open and again on what was opened.
bool IsPipeOrDevice(const struct stat& info) {
  return S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
}

bool MayOpen(int folder, const struct stat& entry) { return !IsPipeOrDevice(entry) || MayFollow(folder, entry); }

int KeptIfMayOpen(int folder, int opened) {
  struct stat info {};
  if (fstat(opened, &info) == 0 && MayOpen(folder, info)) return opened;
  close(opened);
  return Fail(EACCES);
}

}  // namespace

int OpenWithProtectedLinks(const char* path, int flags, mode_t mode) {
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
      if (!MayFollow(folder.Get(), entry)) return Fail(EACCES);
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
    if (last && found && !MayOpen(folder.Get(), entry)) return Fail(EACCES);
    const int opened = last ? openat(folder.Get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode)
                            : openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0 && errno == ELOOP && ++links <= kMaxLinks) {
      pending.push_front(name);  // it became a link: look again
      continue;
    }
    if (opened < 0) return opened;
    if (last) return KeptIfMayOpen(folder.Get(), opened);
    folder.Reset(opened);
  }
  return Fail(ENOENT);
}

}  // namespace platform
