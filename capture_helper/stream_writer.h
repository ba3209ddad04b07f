#pragma once

#include <pcap/pcap.h>

#include <cstddef>
#include <memory>

// Writes the frames of a capture to a descriptor as a capture file: the
// library's own global header, then one record per frame, gathered in a
// large buffer so that a whole read of the adapter goes out in one write
// (or a few), never one per frame.
class StreamWriter {
 public:
  static constexpr std::size_t kBufferBytes = 1 << 20;

  explicit StreamWriter(int fd);

  // Writes the global header the capture library writes for `handle`.
  bool Begin(pcap_t* handle);
  // A pcap_handler: `writer` is the StreamWriter.
  static void OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame);
  // Writes what was gathered. False once a write failed: the reader is gone.
  bool Flush();

 private:
  void Append(const void* bytes, std::size_t size);

  int m_fd;
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_used = 0;
  bool m_failed = false;
};
