#include "log/packet_log_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/protected_open.h"

namespace {

// The open(2) flags of a C-library mode: "a" appends, "w" empties, "+"
// also reads; either way the file is created when missing. Read and write
// ("+") also keeps a FIFO from failing its writes when no one reads it.
int OpenFlags(const char* mode) {
  int flags = O_CREAT | (mode[0] == 'w' ? O_TRUNC : O_APPEND);
  for (const char* c = mode + 1; *c != '\0'; ++c)
    if (*c == '+') return flags | O_RDWR;
  return flags | O_WRONLY;
}

}  // namespace

std::unique_ptr<PacketLogFile> PacketLogFile::Open(const char* path, const char* mode) {
  const int fd = platform::OpenWithProtectedLinks(path, OpenFlags(mode) | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  return Adopt(fd, path);
}

// Appending starts at the end whatever the read position says; a pipe or
// a device has no length.
std::unique_ptr<PacketLogFile> PacketLogFile::Adopt(int fd, std::string path) {
  const off_t end = lseek(fd, 0, SEEK_END);
  const std::uint64_t size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  struct stat info {};
  const bool isPipe = fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
  return std::unique_ptr<PacketLogFile>(new PacketLogFile(fd, size, isPipe, std::move(path)));
}

PacketLogFile::PacketLogFile(int fd, std::uint64_t size, bool isPipe, std::string path)
    : m_fd(fd), m_size(size), m_isPipe(isPipe), m_path(std::move(path)) {}

PacketLogFile::~PacketLogFile() { close(m_fd); }

ssize_t PacketLogFile::Write(const void* data, std::size_t length) {
  const ssize_t written = write(m_fd, data, length);
  if (written > 0) m_size += static_cast<std::uint64_t>(written);
  return written;
}

void PacketLogFile::WaitWritable(int milliseconds) const {
  pollfd writable = {m_fd, POLLOUT, 0};
  poll(&writable, 1, milliseconds);
}

// The write position is the end of what was written, appended or not.
bool PacketLogFile::TakeBack(std::size_t bytes) {
  const off_t end = lseek(m_fd, 0, SEEK_CUR);
  if (end < 0 || static_cast<std::uint64_t>(end) < bytes) return false;
  const off_t cut = end - static_cast<off_t>(bytes);
  if (ftruncate(m_fd, cut) != 0 || lseek(m_fd, cut, SEEK_SET) != cut) return false;
  m_size = m_size > bytes ? m_size - bytes : 0;
  return true;
}

bool PacketLogFile::Restart() {
  m_size = 0;
  if (ftruncate(m_fd, 0) != 0) return false;
  return lseek(m_fd, 0, SEEK_SET) == 0;
}
