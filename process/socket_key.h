#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>

#include "packet/ip_address.h"

// A socket's ends as one block of bytes that compares and hashes whole:
// local address, remote address, both ports (network byte order), the
// protocol and both families. A socket that is only bound has the remote
// end all zero; one bound to every address, the local address too.
using SocketKey = std::array<std::uint8_t, 40>;

inline SocketKey MakeSocketKey(const IpAddress& local, std::uint16_t localPort, const IpAddress& remote,
                               std::uint16_t remotePort, std::uint8_t protocol) {
  SocketKey key{};
  std::memcpy(&key[0], local.bytes.data(), 16);
  std::memcpy(&key[16], remote.bytes.data(), 16);
  std::memcpy(&key[32], &localPort, 2);
  std::memcpy(&key[34], &remotePort, 2);
  key[36] = protocol;
  key[37] = local.ipv6 ? 1 : 0;
  key[38] = remote.ipv6 ? 1 : 0;
  return key;
}

inline SocketKey BoundSocketKey(const IpAddress& local, std::uint16_t localPort, std::uint8_t protocol) {
  return MakeSocketKey(local, localPort, IpAddress(), 0, protocol);
}

// Bound to every address of the machine, in one family.
inline SocketKey AnyAddressSocketKey(bool ipv6, std::uint16_t localPort, std::uint8_t protocol) {
  IpAddress any;
  any.ipv6 = ipv6;
  return BoundSocketKey(any, localPort, protocol);
}

struct SocketKeyHash {
  std::size_t operator()(const SocketKey& key) const {
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
  }
};

inline bool IsAnyAddress(const IpAddress& address) {
  for (const std::uint8_t byte : address.bytes)
    if (byte != 0) return false;
  return true;
}

// An address as a socket carries it: an IPv4 address that an IPv6 socket
// carries mapped (::ffff:a.b.c.d) is the IPv4 address, as the traffic list
// shows it.
inline IpAddress SocketAddress(bool ipv6, const std::uint8_t* bytes) {
  static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  std::uint32_t ipv4 = 0;
  if (!ipv6) {
    std::memcpy(&ipv4, bytes, 4);
    return IpAddress::Ipv4(ipv4);
  }
  if (std::memcmp(bytes, kMapped, sizeof kMapped) != 0) return IpAddress::Ipv6(bytes);
  std::memcpy(&ipv4, bytes + 12, 4);
  return IpAddress::Ipv4(ipv4);
}
