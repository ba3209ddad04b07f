#pragma once

#include <cstdint>

#include "packet/ip_address.h"

// One TCP or UDP socket of this machine as the kernel's socket listing
// gives it. Ports are in network byte order; an IPv4 address that an IPv6
// socket carries mapped (::ffff:a.b.c.d) is given as the IPv4 address.
struct SocketRecord {
  IpAddress local;
  IpAddress remote;  // all zero with port 0: not connected
  std::uint16_t localPort = 0;
  std::uint16_t remotePort = 0;
  std::uint8_t protocol = 0;  // 6 TCP, 17 UDP
  std::uint8_t state = 0;     // the kernel's TCP state numbers; UDP: 1 connected, 7 not
  std::uint32_t uid = 0;
  std::uint32_t inode = 0;  // 0: no file holds it (waiting to be accepted, closing)
  std::uint64_t cookie = 0;

  static constexpr std::uint8_t kListening = 10;  // TCP_LISTEN
};
