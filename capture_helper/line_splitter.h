#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Cuts a byte stream into lines ended by a line feed. A line longer than
// the limit is handed on once, cut to the limit and marked, and never runs
// into the next one. Bytes after the last line feed wait for more.
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t maxLineBytes) : m_maxLineBytes(maxLineBytes) {}

  // Calls onLine(std::string_view line, bool cut) for every line the bytes
  // complete, without its line feed.
  template <typename OnLine>
  void Feed(const char* data, std::size_t size, OnLine&& onLine) {
    while (size != 0) {
      const char* end = static_cast<const char*>(std::memchr(data, '\n', size));
      const std::size_t taken = end != nullptr ? static_cast<std::size_t>(end - data) : size;
      Append(data, taken);
      if (end == nullptr) return;
      onLine(std::string_view(m_line), m_cut);
      m_line.clear();
      m_cut = false;
      data += taken + 1;
      size -= taken + 1;
    }
  }

 private:
  void Append(const char* data, std::size_t size) {
    const std::size_t room = m_maxLineBytes - m_line.size();
    if (size > room) m_cut = true;
    m_line.append(data, size < room ? size : room);
  }

  std::size_t m_maxLineBytes;
  std::string m_line;
  bool m_cut = false;
};
