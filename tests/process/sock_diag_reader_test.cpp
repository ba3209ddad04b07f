#include "process/sock_diag_reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "process/local_sockets.h"

namespace {

const SocketRecord* FindByInode(const std::vector<SocketRecord>& sockets, std::uint32_t inode) {
  const auto found = std::find_if(sockets.begin(), sockets.end(), [&](const auto& s) { return s.inode == inode; });
  return found == sockets.end() ? nullptr : &*found;
}

// Every kind of socket the owners are joined by, in both families: a
// listener, both ends of a connection, a bound receiver and a connected
// sender of datagrams, each with its user, inode, cookie and both ends.
TEST(SockDiagReaderTest, ListsTheTestsOwnSocketsOfBothFamiliesAndProtocols) {
  for (const bool ipv6 : {false, true}) {
    SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
    LocalSocket listener(ipv6, SOCK_STREAM), client(ipv6, SOCK_STREAM);
    LocalSocket receiver(ipv6, SOCK_DGRAM), sender(ipv6, SOCK_DGRAM);
    ASSERT_TRUE(listener.Listen() && client.ConnectTo(listener.Port()));
    LocalSocket accepted(accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC), ipv6);
    ASSERT_TRUE(accepted.Ok());
    ASSERT_TRUE(receiver.Bind() && sender.ConnectTo(receiver.Port()));

    CSockDiagReader reader;
    std::vector<SocketRecord> sockets;
    std::string error;
    ASSERT_TRUE(reader.Read(sockets, error)) << error;

    struct Expected {
      const LocalSocket& socket;
      std::uint8_t protocol;
      const LocalSocket* peer;  // null: not connected
      std::uint8_t state;
    };
    for (const Expected& e : {Expected{listener, 6, nullptr, SocketRecord::kListening}, Expected{client, 6, &accepted, 1},
                              Expected{accepted, 6, &client, 1}, Expected{receiver, 17, nullptr, 7},
                              Expected{sender, 17, &receiver, 1}}) {
      const SocketRecord* record = FindByInode(sockets, e.socket.Inode());
      ASSERT_NE(record, nullptr) << "port " << ntohs(e.socket.Port());
      EXPECT_EQ(record->protocol, e.protocol);
      EXPECT_EQ(record->state, e.state);
      EXPECT_EQ(record->uid, getuid());
      EXPECT_EQ(record->cookie, e.socket.Cookie());
      EXPECT_EQ(record->local, e.socket.Address());
      EXPECT_EQ(record->localPort, e.socket.Port());
      EXPECT_EQ(record->remotePort, e.peer != nullptr ? e.peer->Port() : 0);
      const IpAddress nowhere = ipv6 ? IpAddress::Ipv6(in6addr_any.s6_addr) : IpAddress::Ipv4(0);
      EXPECT_EQ(record->remote, e.peer != nullptr ? e.peer->Address() : nowhere);
    }
  }
}

// An IPv6 socket that talks IPv4 is listed by the IPv4 addresses it
// carries mapped, as the traffic list shows that connection.
TEST(SockDiagReaderTest, MappedIpv4AddressesOfIpv6SocketsComeAsIpv4) {
  LocalSocket listener(false, SOCK_STREAM);
  ASSERT_TRUE(listener.Listen());
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  LocalSocket client(fd, true);
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = listener.Port();
  inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&mapped), sizeof mapped), 0);

  CSockDiagReader reader;
  std::vector<SocketRecord> sockets;
  std::string error;
  ASSERT_TRUE(reader.Read(sockets, error)) << error;
  const SocketRecord* record = FindByInode(sockets, client.Inode());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->local, listener.Address());
  EXPECT_EQ(record->remote, listener.Address());
  EXPECT_EQ(record->remotePort, listener.Port());
}

}  // namespace
