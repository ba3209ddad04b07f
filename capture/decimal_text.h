#pragma once

#include <cstdint>
#include <cstring>

// Builds texts that are made once per packet or per cell, where printf's
// parsing of a format would cost more than the work itself. Each returns
// the end of what it wrote; the caller provides the room.

inline char* AppendDecimal(char* out, std::uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

inline char* AppendText(char* out, const char* text) {
  const std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}
