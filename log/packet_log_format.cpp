#include "log/packet_log_format.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "packet/ip_address.h"
#include "text/decimal_text.h"
#include "text/protocol_names.h"

namespace packet_log {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The character column shows these bytes as a space, so that a dump line
// stays one line and keeps its columns; every other byte goes out as it is.
constexpr std::array<char, 256> MakeCharacterColumn() {
  std::array<char, 256> shown{};
  for (int b = 0; b < 256; ++b) shown[b] = static_cast<char>(b);
  for (int b : {0x00, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D}) shown[b] = ' ';
  return shown;
}
constexpr std::array<char, 256> kCharacterColumn = MakeCharacterColumn();

// Time fields are never negative; a wider value keeps all its digits.
char* AppendPadded(char* out, int value, int width) {
  const unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  unsigned limit = 1;
  for (int i = 1; i < width; ++i) limit *= 10;
  for (unsigned l = limit; l > 1 && v < l; l /= 10) *out++ = '0';
  return AppendDecimal(out, v);
}

// "xx " for every byte value, one four-byte copy per byte; the fourth byte
// is overwritten by whatever comes next (callers leave room for it).
struct HexSpaceTable {
  char text[256][4];
};
constexpr HexSpaceTable MakeHexSpaceTable() {
  HexSpaceTable table{};
  for (int b = 0; b < 256; ++b) {
    table.text[b][0] = kHexDigits[b >> 4];
    table.text[b][1] = kHexDigits[b & 0x0F];
    table.text[b][2] = ' ';
  }
  return table;
}
constexpr HexSpaceTable kHexSpace = MakeHexSpaceTable();

char* AppendHexBytes(char* out, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(out, kHexSpace.text[bytes[i]], 4);
    out += 3;
  }
  return out;
}

char* AppendOffset(char* out, std::uint32_t offset) {
  for (int shift = 28; shift >= 0; shift -= 4) *out++ = kHexDigits[(offset >> shift) & 0x0F];
  return out;
}

char* AppendIpv4Address(char* out, const std::uint8_t* address) {
  for (int i = 0; i < 4; ++i) {
    if (i != 0) *out++ = '.';
    out = AppendDecimal(out, address[i]);
  }
  return out;
}

// Out of line, so that the IPv4 records keep their address written in
// place.
[[gnu::noinline]] char* AppendIpv6Address(char* out, const std::uint8_t* address) {
  char text[IpAddress::kTextSize];
  return AppendText(out, FormatIpAddress(IpAddress::Ipv6(address), text));
}

[[gnu::always_inline]] inline char* AppendAddress(char* out, const RecordHeader& header,
                                                  const std::uint8_t (&address)[16]) {
  return header.ipv6 ? AppendIpv6Address(out, address) : AppendIpv4Address(out, address);
}

// Each family's endpoints written by code of its own: the text header's
// IPv4 path tests the family once.
template <bool kIpv6>
char* AppendEndpoint(char* out, const std::uint8_t (&address)[16], unsigned port) {
  if constexpr (kIpv6) {
    *out++ = '[';
    out = AppendIpv6Address(out, address);
    *out++ = ']';
  } else {
    out = AppendIpv4Address(out, address);
  }
  *out++ = ':';
  return AppendDecimal(out, port);
}

template <bool kIpv6>
char* AppendEndpoints(char* out, const RecordHeader& header) {
  out = AppendEndpoint<kIpv6>(out, header.source, header.sourcePort);
  out = AppendText(out, " -> ");
  return AppendEndpoint<kIpv6>(out, header.destination, header.destinationPort);
}

// The four bytes of the ports as carried, as two numbers.
void PutPorts(RecordHeader& header, const std::uint8_t* ports) {
  header.sourcePort = ports[0] * 256u + ports[1];
  header.destinationPort = ports[2] * 256u + ports[3];
}

char* AppendDate(char* out, const platform::LocalTime& time) {
  out = AppendPadded(out, time.year, 1);
  *out++ = '.';
  out = AppendPadded(out, time.month, 2);
  *out++ = '.';
  return AppendPadded(out, time.day, 2);
}

char* AppendClock(char* out, const platform::LocalTime& time) {
  out = AppendPadded(out, time.hour, 2);
  *out++ = ':';
  out = AppendPadded(out, time.minute, 2);
  *out++ = ':';
  out = AppendPadded(out, time.second, 2);
  *out++ = '.';
  return AppendPadded(out, time.milliseconds, 3);
}

}  // namespace

RecordHeader ReadRecordHeader(const std::uint8_t* ip, std::size_t capturedLength,
                              unsigned headerLength, unsigned totalLength) {
  std::uint8_t head[24] = {};
  std::memcpy(head, ip, std::min(capturedLength, sizeof head));
  RecordHeader header;
  header.protocol = head[9];
  header.totalLength = totalLength;
  header.payloadOffset = headerLength;
  header.payloadLength = totalLength - headerLength;
  std::memcpy(header.source, head + 12, 4);
  std::memcpy(header.destination, head + 16, 4);
  PutPorts(header, head + 20);
  return header;
}

RecordHeader ReadIpv4RecordHeaderAsParsed(const ParsedPacket& packet, unsigned assumedHeaderLength) {
  RecordHeader header = ReadRecordHeader(packet.ip, packet.capturedLength, assumedHeaderLength, packet.totalLength);
  PutPorts(header, packet.ports);
  const bool laterFragment = packet.fragment && !packet.firstFragment;
  if (laterFragment)
    header.payloadOffset = packet.headerLength;
  else if (assumedHeaderLength != 0)  // else the whole packet is payload, as always
    header.payloadOffset = packet.headerLength + assumedHeaderLength - ParsedPacket::kIpv4HeaderLength;
  header.payloadLength = packet.totalLength > header.payloadOffset ? packet.totalLength - header.payloadOffset : 0;
  return header;
}

RecordHeader ReadIpv6RecordHeader(const ParsedPacket& packet, unsigned assumedHeaderLength) {
  RecordHeader header;
  header.ipv6 = true;
  header.protocol = packet.protocol;
  header.totalLength = packet.totalLength;
  std::memcpy(header.source, packet.Source(), 16);
  std::memcpy(header.destination, packet.Destination(), 16);
  PutPorts(header, packet.ports);
  // The assumed length counts the fixed header once; a later fragment's
  // data starts right after its fragment header.
  const bool laterFragment = packet.fragment && !packet.firstFragment;
  const std::uint32_t transportHeader =
      laterFragment || assumedHeaderLength <= ParsedPacket::kIpv6HeaderLength
          ? 0
          : assumedHeaderLength - static_cast<std::uint32_t>(ParsedPacket::kIpv6HeaderLength);
  header.payloadOffset = packet.headerLength + transportHeader;
  header.payloadLength = packet.totalLength > header.payloadOffset ? packet.totalLength - header.payloadOffset : 0;
  return header;
}

char* AppendTextHeader(char* out, const platform::LocalTime& time, const RecordHeader& header) {
  out = AppendLineEnd(out);
  *out++ = '[';
  out = AppendDate(out, time);
  out = AppendText(out, " - ");
  out = AppendClock(out, time);
  *out++ = ']';
  out = AppendLineEnd(out);
  out = AppendText(out, "Proto: ");
  out = AppendText(out, ProtocolNames[header.protocol]);
  out = AppendText(out, " len: ");
  out = AppendDecimal(out, header.totalLength);
  *out++ = ' ';
  out = header.ipv6 ? AppendEndpoints<true>(out, header) : AppendEndpoints<false>(out, header);
  *out++ = ' ';
  out = AppendLineEnd(out);
  return AppendLineEnd(out);
}

char* AppendCsvFields(char* out, const platform::LocalTime& time, const RecordHeader& header) {
  out = AppendDate(out, time);
  *out++ = ';';
  out = AppendClock(out, time);
  *out++ = ';';
  out = AppendText(out, ProtocolNames[header.protocol]);
  *out++ = ';';
  out = AppendDecimal(out, header.payloadLength);
  *out++ = ';';
  out = AppendAddress(out, header, header.source);
  *out++ = ';';
  out = AppendDecimal(out, header.sourcePort);
  *out++ = ';';
  out = AppendAddress(out, header, header.destination);
  *out++ = ';';
  return AppendDecimal(out, header.destinationPort);
}

// A full line has no space after its last byte; a short one does.
char* AppendHexLine(char* out, const std::uint8_t* bytes, std::size_t count, std::uint32_t offset) {
  out = AppendOffset(out, offset);
  *out++ = ' ';
  out = AppendHexBytes(out, bytes, count);
  if (count == kBytesPerLine) --out;
  return AppendLineEnd(out);
}

char* AppendHexTextLine(char* out, const std::uint8_t* bytes, std::size_t count,
                        std::uint32_t offset) {
  out = AppendOffset(out, offset);
  *out++ = ' ';
  out = AppendHexBytes(out, bytes, count);
  if (count < kBytesPerLine) {
    const std::size_t padding = 3 * (kBytesPerLine - count);
    std::memset(out, ' ', padding);
    out += padding;
  }
  for (std::size_t i = 0; i < count; ++i) out[i] = kCharacterColumn[bytes[i]];
  return AppendLineEnd(out + count);
}

char* AppendCsvHexBytes(char* out, const std::uint8_t* bytes, std::size_t count) {
  return AppendHexBytes(out, bytes, count);
}

}  // namespace packet_log
