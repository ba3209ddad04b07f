#pragma once

#include <pcap/pcap.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

// Writes the frames of a capture to a descriptor as a capture file: the
// library's own global header, then one record per frame, gathered so that
// a whole read of the adapter (or several) goes out at once, never one
// frame at a time.
//
// To a pipe, the gathered bytes are not copied into it: their pages are
// lent to it (vmsplice), and the reader copies from them. The records are
// therefore gathered in a ring far larger than any pipe, and a part of it
// is written again only once the reader has taken what the pipe held of
// it. To anything else they are written as usual.
class StreamWriter {
 public:
  static constexpr std::size_t kRingBytes = 4 << 20;

  // A quarter of the ring at most waits to be written; the ring holds four
  // of the largest records at least.
  explicit StreamWriter(int fd, std::size_t ringBytes = kRingBytes);
  ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // Writes the global header the capture library writes for `handle`.
  bool Begin(pcap_t* handle);
  // A pcap_handler: `writer` is the StreamWriter.
  static void OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame);
  // Writes what was gathered. False once a write failed: the reader is gone.
  bool Flush();
  // The bytes gathered and not yet written.
  std::size_t Pending() const { return static_cast<std::size_t>(m_gathered - m_written); }

 private:
  void Append(const void* bytes, std::size_t size);
  bool MakeRoom(std::size_t size);
  std::uint64_t Taken() const;
  bool WaitForReader() const;
  int Pieces(iovec (&pieces)[2]) const;
  bool Lend(iovec (&pieces)[2], int count);
  bool Copy(iovec (&pieces)[2], int count);

  int m_fd;
  bool m_lending = false;  // to a pipe
  std::size_t m_ringBytes;
  std::size_t m_bufferBytes;  // the most that waits to be written
  unsigned char* m_ring = nullptr;
  // Counted in bytes of the stream since its start.
  std::uint64_t m_gathered = 0;
  std::uint64_t m_written = 0;
  std::uint64_t m_room = 0;  // the ring may be filled up to here
  bool m_failed = false;
};
