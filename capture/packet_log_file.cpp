#include "capture/packet_log_file.h"

#include <cstring>

std::unique_ptr<PacketLogFile> PacketLogFile::Open(const char* path, const char* mode) {
  char binaryMode[8] = {};
  std::strncpy(binaryMode, mode, sizeof binaryMode - 2);
  std::strcat(binaryMode, "b");
  std::FILE* file = std::fopen(path, binaryMode);
  if (file == nullptr) return nullptr;
  auto buffer = std::make_unique<char[]>(kStreamBufferSize);
  std::setvbuf(file, buffer.get(), _IOFBF, kStreamBufferSize);
  // Appending starts at the end whatever the read position says.
  std::uint64_t size = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    if (end > 0) size = static_cast<std::uint64_t>(end);
  }
  return std::unique_ptr<PacketLogFile>(new PacketLogFile(file, std::move(buffer), size));
}

PacketLogFile::PacketLogFile(std::FILE* file, std::unique_ptr<char[]> buffer, std::uint64_t size)
    : m_file(file), m_buffer(std::move(buffer)), m_size(size) {}

PacketLogFile::~PacketLogFile() { std::fclose(m_file); }

void PacketLogFile::Write(const void* data, std::size_t length) {
  m_size += std::fwrite(data, 1, length, m_file);
}
