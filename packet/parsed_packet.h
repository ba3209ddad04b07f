#pragma once

#include <cstddef>
#include <cstdint>

// An IP packet as its protocol defines it: which family, the addresses, the
// protocol that carries the data, its first four bytes (the ports of TCP
// and UDP, the type, code and checksum of ICMP), and the lengths. Every
// field was read within the captured bytes.
struct ParsedPacket {
  enum class Family : std::uint8_t { kIpv4 = 4, kIpv6 = 6 };
  static constexpr std::size_t kIpv4HeaderLength = 20;
  static constexpr std::size_t kIpv6HeaderLength = 40;

  Family family = Family::kIpv4;
  // IPv4: the header's protocol. IPv6: the header that follows the last
  // extension header read (hop-by-hop, routing, fragment, destination
  // options, authentication), or the first one the walk could not read.
  std::uint8_t protocol = 0;
  // The first four bytes of the protocol's header as carried: zero where
  // it has none here (a later fragment whose first was not seen, a protocol
  // without ports, bytes not captured).
  std::uint8_t ports[4] = {0, 0, 0, 0};
  // The packet's own length: IPv4's total length; for IPv6 the fixed
  // header and its payload length, extension headers included.
  std::uint32_t totalLength = 0;
  // Where the protocol's header starts: IPv4's header length with its
  // options; for IPv6 the fixed header and the extension headers read.
  std::uint32_t headerLength = 0;

  // Part of a datagram in fragments: `fragmentId` is IPv4's identification
  // or the IPv6 fragment header's; `firstFragment` the one at offset 0,
  // which alone carries the ports.
  bool fragment = false;
  bool firstFragment = false;
  std::uint32_t fragmentId = 0;

  // The network-layer header and how many bytes from there were captured.
  const std::uint8_t* ip = nullptr;
  std::size_t capturedLength = 0;

  bool IsIpv6() const { return family == Family::kIpv6; }
  std::size_t AddressLength() const { return IsIpv6() ? 16 : 4; }
  const std::uint8_t* Source() const { return ip + (IsIpv6() ? 8 : 12); }
  const std::uint8_t* Destination() const { return ip + (IsIpv6() ? 24 : 16); }
};
