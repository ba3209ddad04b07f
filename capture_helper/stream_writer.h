#pragma once

#include <pcap/pcap.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

#include "capture_helper/frame_output.h"

// Writes the frames of a capture to a descriptor as a capture file: the
// library's own global header, then one record per frame, gathered so that
// a whole read of the adapter (or several) goes out at once, never one
// frame at a time.
//
// It never waits for the reader while the capture runs: a descriptor that
// takes less than there is keeps the rest for later (Blocked says so), and
// a frame that finds the buffer full is dropped and counted. Only the
// final FlushAll waits, for a bounded time.
//
// To a pipe, the gathered bytes are not copied into it: their pages are
// lent to it (vmsplice), and the reader copies from them. The records are
// therefore gathered in a ring far larger than any pipe, and a part of it
// is filled again only once the reader has taken what the pipe held of
// it. To anything else they are written as usual.
class StreamWriter : public FrameOutput {
 public:
  static constexpr std::size_t kRingBytes = 4 << 20;

  // A quarter of the ring at most waits to be written; the ring holds four
  // of the largest records at least.
  explicit StreamWriter(int fd, std::size_t ringBytes = kRingBytes);
  ~StreamWriter() override;

  // Writes the global header the capture library writes for `handle`.
  bool Begin(pcap_t* handle);
  // A pcap_handler: `writer` is the StreamWriter.
  static void OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame);
  pcap_handler Handler() const override { return OnFrame; }
  u_char* HandlerArgument() override { return reinterpret_cast<u_char*>(this); }
  // Writes what the descriptor takes now. False once a write failed: the
  // reader is gone.
  bool Flush() override;
  // Writes everything, waiting for the reader until `waitMs` have passed;
  // the frames it has not taken by then are counted as dropped (the stream
  // then ends inside a record). False once a write failed.
  bool FlushAll(int waitMs) override;
  // True when `capturedLength` bytes of frame would be taken now.
  bool HasRoomFor(std::size_t capturedLength);

  // The bytes gathered and not yet written.
  std::size_t Pending() const override { return static_cast<std::size_t>(m_gathered - m_written); }
  // The last flush left bytes that the descriptor would not take: the
  // next is worth trying once it is writable.
  bool Blocked() const override { return m_blocked; }
  // Frames that were never written whole, since the start.
  std::uint64_t DroppedFrames() const override { return m_droppedFrames; }

 private:
  enum class Way { kLend, kWithoutWaiting, kPlain };

  void Gather(const pcap_pkthdr& header, const u_char* frame);
  void Append(const void* bytes, std::size_t size);
  bool MakeRoom(std::size_t size);
  std::uint64_t Taken() const;
  int Pieces(iovec (&pieces)[2]) const;
  ssize_t WritePieces(iovec (&pieces)[2], int count);
  void CountWrittenRecords(bool now);
  std::size_t RecordSizeAt(std::size_t at) const;

  int m_fd;
  Way m_way;
  std::size_t m_ringBytes;
  std::size_t m_bufferBytes;  // the most that waits to be written
  unsigned char* m_ring = nullptr;
  // Counted in bytes of the stream since its start.
  std::uint64_t m_gathered = 0;
  std::uint64_t m_written = 0;
  std::uint64_t m_room = 0;  // the ring may be filled up to here
  bool m_failed = false;
  bool m_blocked = false;
  // Where the first record that is not yet written whole starts, and how
  // many records were gathered and written whole; the stream's header
  // counts as no record.
  std::uint64_t m_headerBytes = 0;
  std::uint64_t m_unwrittenRecord = 0;
  std::uint64_t m_recordsGathered = 0;
  std::uint64_t m_recordsWritten = 0;
  std::uint64_t m_droppedFrames = 0;
};
