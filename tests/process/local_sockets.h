#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "packet/ip_address.h"
#include "table/traffic_entry.h"

// Real sockets of the test's own on a loopback address of either family,
// closed with the object.
class LocalSocket {
 public:
  LocalSocket(bool ipv6, int type) : m_ipv6(ipv6), m_fd(socket(ipv6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0)) {}
  explicit LocalSocket(int fd, bool ipv6) : m_ipv6(ipv6), m_fd(fd) {}
  ~LocalSocket() {
    if (m_fd >= 0) close(m_fd);
  }
  LocalSocket(const LocalSocket&) = delete;
  LocalSocket& operator=(const LocalSocket&) = delete;

  int Fd() const { return m_fd; }
  bool Ok() const { return m_fd >= 0; }

  // To the loopback address on a port the kernel picks.
  bool Bind() {
    sockaddr_storage address = Loopback(0);
    return bind(m_fd, reinterpret_cast<sockaddr*>(&address), Length()) == 0;
  }
  bool Listen() { return Bind() && listen(m_fd, 8) == 0; }
  bool ConnectTo(std::uint16_t portNetworkOrder) {
    sockaddr_storage address = Loopback(portNetworkOrder);
    return connect(m_fd, reinterpret_cast<sockaddr*>(&address), Length()) == 0;
  }
  bool SendTo(std::uint16_t portNetworkOrder) {
    sockaddr_storage address = Loopback(portNetworkOrder);
    return sendto(m_fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&address), Length()) == 1;
  }

  std::uint16_t Port() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    return m_ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                  : reinterpret_cast<sockaddr_in*>(&address)->sin_port;
  }
  std::uint32_t Inode() const {
    struct stat status {};
    fstat(m_fd, &status);
    return static_cast<std::uint32_t>(status.st_ino);
  }
  std::uint64_t Cookie() const {
    std::uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    getsockopt(m_fd, SOL_SOCKET, SO_COOKIE, &cookie, &length);
    return cookie;
  }
  IpAddress Address() const {
    if (!m_ipv6) return IpAddress::Ipv4(htonl(INADDR_LOOPBACK));
    return IpAddress::Ipv6(in6addr_loopback.s6_addr);
  }

 private:
  sockaddr_storage Loopback(std::uint16_t portNetworkOrder) const {
    sockaddr_storage address{};
    if (m_ipv6) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      in6->sin6_port = portNetworkOrder;
    } else {
      auto* in = reinterpret_cast<sockaddr_in*>(&address);
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      in->sin_port = portNetworkOrder;
    }
    return address;
  }
  socklen_t Length() const { return m_ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

  bool m_ipv6;
  int m_fd;
};

// A connection between two sockets of the test, in the direction from
// `from` to `to`.
inline ConnectionEndpoints Between(const LocalSocket& from, const LocalSocket& to, std::uint8_t protocol) {
  ConnectionEndpoints connection;
  connection.source = from.Address();
  connection.destination = to.Address();
  connection.sourcePort = from.Port();
  connection.destinationPort = to.Port();
  connection.protocol = protocol;
  return connection;
}
