#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/local_time.h"

// The pieces a packet log record is made of. Each appender writes at `out`
// and returns the end of what it wrote; the caller provides the room (at
// most kMaxPieceLength bytes per call, a dump line being one call).
//
// Every line ends in CR LF whatever the platform, so that a log reads the
// same wherever it is opened.
namespace packet_log {

inline constexpr std::size_t kBytesPerLine = 16;
inline constexpr std::size_t kMaxPieceLength = 256;

// What a record tells about a packet besides its bytes.
struct RecordHeader {
  std::uint8_t protocol = 0;
  std::uint32_t totalLength = 0;     // the IP total length, not what was captured
  std::uint32_t payloadLength = 0;   // total length minus the assumed header length
  std::uint8_t source[4] = {};
  std::uint8_t destination[4] = {};
  unsigned sourcePort = 0;           // bytes 20-21, whatever the protocol
  unsigned destinationPort = 0;      // bytes 22-23
};

// Reads the header fields without going past `capturedLength`: a byte that
// was not captured reads as zero.
RecordHeader ReadRecordHeader(const std::uint8_t* ip, std::size_t capturedLength,
                              unsigned headerLength, unsigned totalLength);

// An empty line, the time stamp in brackets, the line with protocol,
// length and endpoints, and another empty line.
char* AppendTextHeader(char* out, const platform::LocalTime& time, const RecordHeader& header);

// The semicolon-separated line, without its line end.
char* AppendCsvFields(char* out, const platform::LocalTime& time, const RecordHeader& header);

// One line of a hex dump: `count` bytes (1 to 16) at `offset` from the
// start of the dumped part.
char* AppendHexLine(char* out, const std::uint8_t* bytes, std::size_t count, std::uint32_t offset);

// One line of a hex-and-text dump; a short line is padded so that its
// character column starts where it does on a full line.
char* AppendHexTextLine(char* out, const std::uint8_t* bytes, std::size_t count,
                        std::uint32_t offset);

// "xx " for each of `count` bytes (at most 64 per call), as the CSV line
// carries its payload.
char* AppendCsvHexBytes(char* out, const std::uint8_t* bytes, std::size_t count);

inline char* AppendLineEnd(char* out) {
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

}  // namespace packet_log
