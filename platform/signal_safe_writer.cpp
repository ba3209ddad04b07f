#include "platform/signal_safe_writer.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

void WriteFully(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

SignalSafeWriter& SignalSafeWriter::Text(const char* text) {
  while (*text != '\0') Put(*text++);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::Hex(std::uint64_t value, int digits) {
  char reversed[16];
  int count = 0;
  do {
    reversed[count++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (int pad = count; pad < digits; ++pad) Put('0');
  while (count > 0) Put(reversed[--count]);
  return *this;
}

void SignalSafeWriter::Put(char c) {
  if (m_used == kBufferBytes) Flush();
  m_buffer[m_used++] = c;
}

void SignalSafeWriter::Flush() {
  WriteFully(m_fd, m_buffer, m_used);
  m_used = 0;
}

}  // namespace platform
