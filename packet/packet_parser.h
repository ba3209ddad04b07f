#pragma once

#include <cstddef>
#include <cstdint>

#include "packet/fragment_memory.h"
#include "packet/parsed_packet.h"

// Reads the IP packet at `ip`, of which `capturedLength` bytes were
// captured, as its protocol defines it; nothing at or past the captured
// bytes is read. False when it is not an IP packet that can be counted: a
// version other than 4 or 6, an IPv4 header-length field under 5 words, or
// fewer captured bytes than the fixed header (20 bytes for IPv4, 40 for
// IPv6).
//
// IPv4: the ports are the four bytes after the header and its options,
// whatever the protocol. IPv6: a fixed list of extension headers is
// walked (hop-by-hop 0, routing 43, fragment 44, destination options 60,
// authentication 51), at most kMaxExtensionHeaders of them and never past
// the captured bytes; whatever follows is the protocol, and only TCP, UDP
// and ICMPv6 have ports. In both, only a datagram's first fragment carries
// them.
bool ParseIpPacket(const std::uint8_t* ip, std::size_t capturedLength, ParsedPacket& packet);

constexpr int kMaxExtensionHeaders = 8;

// The parser of one capture: ParseIpPacket, and a fragment that is not its
// datagram's first takes the protocol and ports its first brought, as far
// as the fragment memory still knows them (ports 0 otherwise). Frames go
// through it in the order they were captured.
class PacketParser {
 public:
  // `seconds`: the frame's capture time, which ages the fragment memory.
  bool Parse(const std::uint8_t* ip, std::size_t capturedLength, std::uint32_t seconds, ParsedPacket& packet) {
    if (!ParseIpPacket(ip, capturedLength, packet)) return false;
    if (packet.fragment) FollowFragment(packet, seconds);
    return true;
  }

 private:
  void FollowFragment(ParsedPacket& packet, std::uint32_t seconds);

  FragmentMemory m_fragments;
};
