#pragma once

#include <cstddef>
#include <cstdint>

#include "packet/parsed_packet.h"
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
  bool ipv6 = false;
  std::uint8_t protocol = 0;
  std::uint32_t totalLength = 0;     // the IP total length, not what was captured
  std::uint32_t payloadOffset = 0;   // where the payload starts, from the IP header
  std::uint32_t payloadLength = 0;   // total length minus the payload's offset
  std::uint8_t source[16] = {};      // an IPv4 address in the first four bytes
  std::uint8_t destination[16] = {};
  unsigned sourcePort = 0;
  unsigned destinationPort = 0;
};

// A plain IPv4 packet's (a 20-byte header, not a later fragment), read
// from its bytes without going past `capturedLength`: a byte that was not
// captured reads as zero. The ports are bytes 20 to 23 and the payload
// starts at the assumed header length.
RecordHeader ReadRecordHeader(const std::uint8_t* ip, std::size_t capturedLength,
                              unsigned headerLength, unsigned totalLength);

// An IPv6 packet's, as the parser read it, `assumedHeaderLength` being the
// part the table does not count as data: the ports are the parser's (a
// later fragment's those its first brought), and the payload follows the
// fixed header, the extension headers and the transport header the
// assumed length stands for (TCP's 20 bytes, UDP's 8) where the packet
// carries one; it may be empty.
RecordHeader ReadIpv6RecordHeader(const ParsedPacket& packet, unsigned assumedHeaderLength);

// An IPv4 packet with options, or a later fragment, as the parser read it:
// the ports the table counts (a later fragment's those its first brought),
// the payload after the real header and the transport header the assumed
// length stands for (a later fragment's data right after its IP header).
RecordHeader ReadIpv4RecordHeaderAsParsed(const ParsedPacket& packet, unsigned assumedHeaderLength);

// The record header of a packet of either family, as the parser read it.
// A plain IPv4 packet, the common case, is read from its bytes as it
// always was.
inline RecordHeader RecordHeaderOf(const ParsedPacket& packet, unsigned assumedHeaderLength) {
  if (packet.IsIpv6()) return ReadIpv6RecordHeader(packet, assumedHeaderLength);
  if (packet.headerLength != ParsedPacket::kIpv4HeaderLength || (packet.fragment && !packet.firstFragment))
    return ReadIpv4RecordHeaderAsParsed(packet, assumedHeaderLength);
  return ReadRecordHeader(packet.ip, packet.capturedLength, assumedHeaderLength, packet.totalLength);
}

// An empty line, the time stamp in brackets, the line with protocol,
// length and endpoints, and another empty line. An endpoint is
// address:port, an IPv6 address in brackets ("[2001:db8::1]:80"), so that
// the port stays apart from the address's own colons.
char* AppendTextHeader(char* out, const platform::LocalTime& time, const RecordHeader& header);

// The semicolon-separated line, without its line end. An IPv6 address
// stands in its field as it is ("2001:db8::1"): it holds no semicolon.
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
