#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

// Reads a stream in the capture library's file format (a global header,
// then records) as it arrives, in pieces of any size: the output of
// quorvel-capture on a pipe. The library's own file reader would block on
// the pipe; this one never waits, it only takes the bytes it is given.
//
// The bytes are not trusted. A record that has not fully arrived waits in
// the buffer for the rest; a header that is not a capture file's, or a
// record longer than the largest capture, makes the stream bad for good,
// with a reason, and nothing is read past it.
//
//   std::span<std::uint8_t> space = reader.Space();
//   reader.Commit(read(fd, space.data(), space.size()));
//   while (reader.Read(record) == SavefileStreamReader::Next::kRecord) ...;
class SavefileStreamReader {
 public:
  static constexpr std::uint32_t kMaxCaptureLength = 262144;
  static constexpr std::size_t kGlobalHeaderBytes = 24;
  static constexpr std::size_t kRecordHeaderBytes = 16;

  struct Record {
    std::uint32_t seconds = 0;
    std::uint32_t microseconds = 0;
    std::uint32_t capturedLength = 0;
    std::uint32_t wireLength = 0;
    const std::uint8_t* data = nullptr;  // valid until the next Space()
  };
  enum class Next { kRecord, kNeedBytes, kBad };

  explicit SavefileStreamReader(std::size_t bufferBytes = 1 << 20);

  // Where the next bytes go; never empty. Records read before are no
  // longer valid after it. The buffer is made at the first call: a reader
  // that is never given bytes costs no memory.
  std::span<std::uint8_t> Space();
  // Reads a new stream from its start, as a new reader would, in the
  // buffer it has.
  void Restart();
  // `bytes` of the space were filled.
  void Commit(std::size_t bytes);
  // The next whole record, if it has arrived.
  Next Read(Record& record);
  // Reads the global header alone, if it has arrived; no record is taken.
  Next ReadHeader();

  bool HeaderRead() const { return m_headerRead; }
  // The capture library's link type (DLT_...) from the global header.
  int LinkType() const { return m_linkType; }
  bool Bad() const { return !m_error.empty(); }
  // Why the stream is bad; empty while it is good.
  const std::string& Error() const { return m_error; }

 private:
  std::uint32_t Field(std::size_t offset) const;
  Next ReadGlobalHeader();
  Next Fail(std::string reason);

  std::size_t m_bufferBytes;
  std::unique_ptr<std::uint8_t[]> m_buffer;  // only the bytes committed are ever read
  std::size_t m_begin = 0;  // the first byte not yet read
  std::size_t m_end = 0;    // one past the last byte committed
  bool m_headerRead = false;
  bool m_swapped = false;
  bool m_nanoseconds = false;
  int m_linkType = -1;
  std::uint32_t m_maxCaptureLength = kMaxCaptureLength;
  std::string m_error;
};
