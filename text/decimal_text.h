#pragma once

#include <cstdint>
#include <cstring>

// Builds texts that are made once per packet or per cell, where printf's
// parsing of a format would cost more than the work itself. Each returns
// the end of what it wrote; the caller provides the room.

// Two digits at a time from a table: half the divisions of one digit at a
// time, for the cells that every pass writes.
inline char* AppendDecimal(char* out, std::uint64_t value) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[20];
  char* const end = digits + sizeof digits;
  char* first = end;
  while (value >= 100) {
    first -= 2;
    std::memcpy(first, &kPairs[value % 100 * 2], 2);
    value /= 100;
  }
  if (value >= 10) {
    first -= 2;
    std::memcpy(first, &kPairs[value * 2], 2);
  } else {
    *--first = static_cast<char>('0' + value);
  }
  const auto length = static_cast<std::size_t>(end - first);
  std::memcpy(out, first, length);
  return out + length;
}

inline char* AppendText(char* out, const char* text) {
  const std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}
