#include "process/proc_socket_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// A folder name of digits only: a process.
pid_t ProcessIdOf(const char* name) {
  if (*name == '\0') return 0;
  long pid = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || pid > 0x3fffffff) return 0;
    pid = pid * 10 + (*c - '0');
  }
  return static_cast<pid_t>(pid);
}

// Adds the process's sockets; false when its descriptors cannot be read.
bool ScanDescriptors(int procFd, pid_t pid, ProcessSockets& found) {
  char path[32];
  std::snprintf(path, sizeof path, "%d/fd", static_cast<int>(pid));
  const int fdFolder = openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fdFolder < 0) return false;
  DIR* folder = fdopendir(fdFolder);
  if (folder == nullptr) {
    close(fdFolder);
    return false;
  }
  const std::size_t before = found.holders.size();
  char link[64];
  while (const dirent* item = readdir(folder)) {
    if (item->d_name[0] == '.') continue;
    const ssize_t length = readlinkat(fdFolder, item->d_name, link, sizeof link);
    if (length <= 0) continue;
    if (const std::uint32_t inode = SocketInodeOfLink(link, static_cast<std::size_t>(length)))
      found.holders.push_back({inode, pid});
  }
  closedir(folder);
  if (found.holders.size() != before) {
    ProcessSockets::Program program{pid, {}};
    ReadProgramName(procFd, pid, program.name);
    found.programs.push_back(program);
  }
  return true;
}

}  // namespace

void ReadProgramName(int procFd, pid_t pid, char (&name)[16]) {
  char path[32];
  std::snprintf(path, sizeof path, "%d/comm", static_cast<int>(pid));
  name[0] = '\0';
  const int fd = openat(procFd, path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  const ssize_t length = read(fd, name, sizeof name - 1);
  close(fd);
  if (length <= 0) return;
  name[length] = '\0';
  if (char* end = std::strchr(name, '\n')) *end = '\0';
}

std::uint32_t SocketInodeOfLink(const char* link, std::size_t length) {
  static constexpr char kPrefix[] = "socket:[";
  constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
  if (length < kPrefixLength + 2 || std::memcmp(link, kPrefix, kPrefixLength) != 0 || link[length - 1] != ']')
    return 0;
  std::uint64_t inode = 0;
  for (std::size_t i = kPrefixLength; i + 1 < length; ++i) {
    if (link[i] < '0' || link[i] > '9') return 0;
    inode = inode * 10 + static_cast<std::uint64_t>(link[i] - '0');
    if (inode > UINT32_MAX) return 0;
  }
  return static_cast<std::uint32_t>(inode);
}

bool ScanProcessSockets(const char* procRoot, ProcessSockets& found) {
  found = {};
  const int procFd = open(procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd < 0) return false;
  DIR* proc = fdopendir(procFd);
  if (proc == nullptr) {
    close(procFd);
    return false;
  }
  while (const dirent* item = readdir(proc)) {
    const pid_t pid = ProcessIdOf(item->d_name);
    if (pid == 0) continue;
    ++found.processes;
    if (!ScanDescriptors(procFd, pid, found)) ++found.unreadable;
  }
  closedir(proc);
  return true;
}
