#include "log/packet_log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/protected_open.h"

namespace {

// The open(2) flags of a C-library mode: "a" appends, "w" empties, "+"
// also reads; either way the file is created when missing.
int OpenFlags(const char* mode) {
  int flags = O_CREAT | (mode[0] == 'w' ? O_TRUNC : O_APPEND);
  for (const char* c = mode + 1; *c != '\0'; ++c)
    if (*c == '+') return flags | O_RDWR;
  return flags | O_WRONLY;
}

}  // namespace

std::unique_ptr<PacketLogFile> PacketLogFile::Open(const char* path, const char* mode) {
  const int fd = platform::OpenWithProtectedLinks(path, OpenFlags(mode), 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode[0] == 'w' ? "w+b" : "a+b");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  auto buffer = std::make_unique<char[]>(kStreamBufferSize);
  std::setvbuf(file, buffer.get(), _IOFBF, kStreamBufferSize);
  // Appending starts at the end whatever the read position says.
  std::uint64_t size = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    if (end > 0) size = static_cast<std::uint64_t>(end);
  }
  return std::unique_ptr<PacketLogFile>(new PacketLogFile(file, std::move(buffer), size, path));
}

PacketLogFile::PacketLogFile(std::FILE* file, std::unique_ptr<char[]> buffer, std::uint64_t size, std::string path)
    : m_file(file), m_buffer(std::move(buffer)), m_size(size), m_path(std::move(path)) {}

PacketLogFile::~PacketLogFile() { std::fclose(m_file); }

bool PacketLogFile::Write(const void* data, std::size_t length) {
  // One thread writes a log: the stream's own lock is not needed.
  const std::size_t written = fwrite_unlocked(data, 1, length, m_file);
  m_size += written;
  return written == length && ferror_unlocked(m_file) == 0;
}

bool PacketLogFile::Flush() { return std::fflush(m_file) == 0; }

bool PacketLogFile::Restart() {
  m_size = 0;
  // What the stream still holds belongs before the cut; a failed flush
  // (a full disk) must not keep the file from being emptied.
  std::fflush(m_file);
  if (ftruncate(fileno(m_file), 0) != 0) return false;
  return std::fseek(m_file, 0, SEEK_SET) == 0;
}
