#include "resolve/reverse_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace resolve {

namespace {

std::optional<std::string> NameOf(const sockaddr* address, socklen_t size) {
  char host[NI_MAXHOST];
  if (getnameinfo(address, size, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) return std::nullopt;
  return std::string(host);
}

}  // namespace

std::optional<std::string> ReverseLookupName(const IpAddress& address) {
  if (address.ipv6) {
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    std::memcpy(&ipv6.sin6_addr, address.bytes.data(), sizeof ipv6.sin6_addr);
    return NameOf(reinterpret_cast<const sockaddr*>(&ipv6), sizeof ipv6);
  }
  sockaddr_in ipv4{};
  ipv4.sin_family = AF_INET;
  ipv4.sin_addr.s_addr = address.Ipv4Carried();
  return NameOf(reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4);
}

}  // namespace resolve
