#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Formats text into a fixed buffer and writes it to a file descriptor with
// nothing but async-signal-safe calls, for what a fault handler writes.
// Write errors are ignored: what could not be written is lost.
class SignalSafeWriter {
 public:
  explicit SignalSafeWriter(int fd) : m_fd(fd) {}
  ~SignalSafeWriter() { Flush(); }
  SignalSafeWriter(const SignalSafeWriter&) = delete;
  SignalSafeWriter& operator=(const SignalSafeWriter&) = delete;

  SignalSafeWriter& Text(const char* text);
  // Upper-case hexadecimal, zero-padded to `digits` (more when it needs them).
  SignalSafeWriter& Hex(std::uint64_t value, int digits);
  void Flush();

 private:
  void Put(char c);

  static constexpr std::size_t kBufferBytes = 8192;
  int m_fd;
  std::size_t m_used = 0;
  char m_buffer[kBufferBytes];
};

// Writes all of `size` bytes unless the descriptor fails; retries when a
// signal interrupts. Async-signal-safe.
void WriteFully(int fd, const char* bytes, std::size_t size);

}  // namespace platform
