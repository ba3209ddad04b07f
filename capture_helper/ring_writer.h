#pragma once

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture_helper/frame_output.h"
#include "capture_helper/frame_ring_layout.h"

// Copies the frames into the ring that the session shares with the helper
// (capture_helper/frame_ring_layout.h): one copy, no system call per read
// of the adapter, and a byte on the doorbell only when the reader sleeps.
//
// The memory file comes from the reader, who is trusted with nothing: it
// must be sealed against shrinking (or the helper seals it), so that no
// write of the helper can ever fault, and of what the reader writes only
// its tail is read, and used only where it lies between the last tail
// taken and the head published.
class RingWriter : public FrameOutput {
 public:
  // How far into the ring the writing goes before it starts again at the
  // ring's start, when the reader keeps up (at most half the ring).
  static constexpr std::size_t kRewindBytes = 1 << 20;

  RingWriter(int ringFd, int doorbellFd);
  ~RingWriter() override;

  // Checks and maps the memory file; false with the reason when it will
  // not do.
  bool Attach(std::string& error);
  // Fills in the producer page for `handle`'s frames.
  void Begin(pcap_t* handle);

  static void OnFrame(u_char* writer, const pcap_pkthdr* header, const u_char* frame);
  pcap_handler Handler() const override { return OnFrame; }
  u_char* HandlerArgument() override { return reinterpret_cast<u_char*>(this); }
  void Publish() override;
  // Publishes, and rings the doorbell if the reader sleeps.
  bool Flush() override;
  // Publishes and rings whatever the reader does: it is the end.
  bool FlushAll(int waitMs) override;
  std::size_t Pending() const override { return static_cast<std::size_t>(m_head - m_flushedHead); }
  bool Blocked() const override { return false; }
  std::uint64_t DroppedFrames() const override { return m_droppedFrames; }

  std::size_t RingBytes() const { return m_ringBytes; }

 private:
  bool MakeRoom(std::size_t bytes);
  std::uint64_t ReaderTail() const;
  std::size_t RewindBytes() const;
  void Write(const pcap_pkthdr& header, const u_char* frame, std::size_t bytes);
  // Publishes everything written: nothing is pending any more.
  void HandOver();
  bool Ring();

  int m_ringFd;
  int m_doorbellFd;
  unsigned char* m_producer = nullptr;  // the producer page and the ring after it
  frame_ring::ConsumerPage* m_consumer = nullptr;  // mapped read-only
  std::size_t m_ringBytes = 0;
  unsigned char* m_ring = nullptr;
  std::uint64_t m_head = 0;       // written so far
  std::uint64_t m_published = 0;  // shown to the reader
  std::uint64_t m_flushedHead = 0;
  std::uint64_t m_tail = 0;  // the reader's, as last taken
  std::uint64_t m_droppedFrames = 0;
  bool m_firstSincePublish = false;
  bool m_failed = false;
};
