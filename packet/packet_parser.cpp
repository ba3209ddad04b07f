#include "packet/packet_parser.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;
constexpr std::uint8_t kIcmpv6 = 58;
constexpr std::uint8_t kDestinationOptions = 60;
constexpr std::size_t kFragmentHeaderLength = 8;

std::uint16_t Read16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]); }

std::uint32_t Read32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

// The four bytes at `offset`, as far as they were captured; the rest 0.
void ReadPorts(ParsedPacket& packet, std::size_t offset) {
  if (offset + 4 <= packet.capturedLength) {
    std::memcpy(packet.ports, packet.ip + offset, 4);
    return;
  }
  if (offset >= packet.capturedLength) return;
  std::memcpy(packet.ports, packet.ip + offset, packet.capturedLength - offset);
}

bool ParseIpv4(ParsedPacket& packet) {
  const std::uint8_t* ip = packet.ip;
  const unsigned words = ip[0] & 0x0F;
  if (words < 5) return false;
  packet.family = ParsedPacket::Family::kIpv4;
  packet.protocol = ip[9];
  packet.headerLength = words * 4;
  packet.totalLength = Read16(ip + 2);
  const std::uint16_t flagsAndOffset = Read16(ip + 6);
  const bool moreFragments = (flagsAndOffset & 0x2000) != 0;
  const bool atStart = (flagsAndOffset & 0x1FFF) == 0;
  packet.fragment = moreFragments || !atStart;
  packet.firstFragment = packet.fragment && atStart;
  packet.fragmentId = Read16(ip + 4);
  if (atStart) ReadPorts(packet, packet.headerLength);
  return true;
}

bool IsExtensionHeader(std::uint8_t next) {
  return next == kHopByHop || next == kRouting || next == kDestinationOptions || next == kAuthentication ||
         next == kFragment;
}

// The extension header at `offset`: its own length, 0 when it was not
// captured whole enough to say. A fragment header says, besides, whether
// the packet is a fragment and which.
std::size_t ExtensionHeaderLength(ParsedPacket& packet, std::uint8_t kind, std::size_t offset) {
  const std::size_t left = packet.capturedLength - offset;
  if (kind == kFragment) {
    if (left < kFragmentHeaderLength) return 0;
    const std::uint16_t offsetAndFlags = Read16(packet.ip + offset + 2);
    packet.fragment = true;
    packet.firstFragment = (offsetAndFlags & 0xFFF8) == 0;
    packet.fragmentId = Read32(packet.ip + offset + 4);
    return kFragmentHeaderLength;
  }
  if (left < 2) return 0;
  const std::uint8_t length = packet.ip[offset + 1];
  return kind == kAuthentication ? (length + 2u) * 4u : (length + 1u) * 8u;
}

// The walk stops at the protocol, at a header it cannot read whole, after
// kMaxExtensionHeaders, and at a later fragment, whose next header is only
// the start of what its first fragment carries.
bool ParseIpv6(ParsedPacket& packet) {
  packet.family = ParsedPacket::Family::kIpv6;
  packet.totalLength = ParsedPacket::kIpv6HeaderLength + Read16(packet.ip + 4);
  std::uint8_t next = packet.ip[6];
  std::size_t offset = ParsedPacket::kIpv6HeaderLength;
  for (int walked = 0; IsExtensionHeader(next) && walked < kMaxExtensionHeaders; ++walked) {
    if (offset >= packet.capturedLength) break;
    const std::size_t length = ExtensionHeaderLength(packet, next, offset);
    if (length == 0) break;
    next = packet.ip[offset];
    offset += length;
    if (packet.fragment && !packet.firstFragment) break;
  }
  packet.protocol = next;
  packet.headerLength = static_cast<std::uint32_t>(offset);
  const bool hasPorts = next == kTcp || next == kUdp || next == kIcmpv6;
  if (hasPorts && !(packet.fragment && !packet.firstFragment)) ReadPorts(packet, offset);
  return true;
}

}  // namespace

bool ParseIpPacket(const std::uint8_t* ip, std::size_t capturedLength, ParsedPacket& packet) {
  // Field by field: a whole new packet would be written twice on the way
  // of every frame.
  std::memset(packet.ports, 0, sizeof packet.ports);
  packet.fragment = packet.firstFragment = false;
  packet.fragmentId = 0;
  packet.ip = ip;
  packet.capturedLength = capturedLength;
  if (capturedLength < ParsedPacket::kIpv4HeaderLength) return false;
  switch (ip[0] >> 4) {
    case 4: return ParseIpv4(packet);
    case 6: return capturedLength >= ParsedPacket::kIpv6HeaderLength && ParseIpv6(packet);
    default: return false;
  }
}

void PacketParser::FollowFragment(ParsedPacket& packet, std::uint32_t seconds) {
  if (packet.firstFragment)
    m_fragments.Remember(packet, seconds);
  else
    m_fragments.Recall(packet, seconds);
}
