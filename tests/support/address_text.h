#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "packet/ip_address.h"

// An address as people write it, IPv4 dotted or IPv6; the IPv6 address ::
// when the text is neither.
inline IpAddress ParseAddress(const char* text) {
  std::uint8_t bytes[16] = {};
  if (inet_pton(AF_INET, text, bytes) == 1) {
    std::uint32_t carried;
    std::memcpy(&carried, bytes, 4);
    return IpAddress::Ipv4(carried);
  }
  inet_pton(AF_INET6, text, bytes);
  return IpAddress::Ipv6(bytes);
}
