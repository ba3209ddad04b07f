#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture_helper/frame_ring_layout.h"
#include "source/savefile_stream_reader.h"

// The reading end of the frame ring that quorvel-capture fills
// (capture_helper/frame_ring_layout.h): the memory file is made here and
// handed to the helper; the records are read in place, where the helper
// wrote them.
//
// The helper's side is mapped read-only, so that nothing here can spoil a
// frame, and nothing it writes is trusted: a head, a length or a mark that
// would lead outside the ring or past what was written makes the ring bad
// for good, with a reason, and nothing is read past it.
//
//   reader.Create(error);  ... start the helper with reader.Fd() as its 4 ...
//   reader.ReadHeader();   (once the helper reported the open)
//   while (reader.Read(record) == Next::kRecord) ...;
//   reader.Release();      (the records read are done with)
class FrameRingReader {
 public:
  static constexpr std::size_t kRingBytes = 8 << 20;
  using Record = SavefileStreamReader::Record;
  using Next = SavefileStreamReader::Next;

  FrameRingReader() = default;
  ~FrameRingReader();
  FrameRingReader(const FrameRingReader&) = delete;
  FrameRingReader& operator=(const FrameRingReader&) = delete;

  // Makes and maps the memory file, sealed against shrinking and growing.
  // False with the reason when it could not.
  bool Create(std::string& error, std::size_t ringBytes = kRingBytes);
  // The memory file's descriptor (close-on-exec) until CloseFd; the
  // mappings stay after it.
  int Fd() const { return m_fd; }
  void CloseFd();

  // Reads the helper's page: kNeedBytes once it is good (or was read
  // before), kBad when the helper did not fill it in as it should.
  Next ReadHeader();
  bool HeaderRead() const { return m_headerRead; }
  int LinkType() const { return m_linkType; }
  bool Bad() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }

  // The next record the helper published, read in place: valid until
  // Release.
  Next Read(Record& record);
  // The records read so far are done with: the helper may write over them.
  void Release();
  // Says that the reader is about to sleep, unless there is something to
  // read: true when it may sleep, until the doorbell rings. Awake ends it.
  bool Sleep();
  void Awake();

 private:
  bool Fetched();
  Next Fail(std::string reason);

  int m_fd = -1;
  std::size_t m_ringBytes = 0;
  const unsigned char* m_producer = nullptr;  // the producer page and the ring after it, read-only
  frame_ring::ConsumerPage* m_consumer = nullptr;
  const unsigned char* m_ring = nullptr;
  std::uint64_t m_read = 0;  // the next record's position
  std::uint64_t m_head = 0;  // the helper's, as last read
  std::uint32_t m_snapLength = 0;
  bool m_headerRead = false;
  bool m_sleeping = false;
  int m_linkType = -1;
  std::string m_error;
};
