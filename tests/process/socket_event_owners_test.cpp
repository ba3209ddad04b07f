#include "process/socket_event_owners.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "table/traffic_entry.h"

namespace {

struct End {
  const char* address;
  std::uint16_t port;
};

void Put(std::uint8_t (&to)[16], bool ipv6, const char* address) {
  inet_pton(ipv6 ? AF_INET6 : AF_INET, address, to);
}

SocketEvent Event(SocketEventKind kind, std::uint8_t protocol, std::uint64_t cookie, std::uint32_t pid, End local,
                  End remote, bool ipv6 = false) {
  SocketEvent event{};
  event.kind = static_cast<__u8>(kind);
  event.protocol = protocol;
  event.cookie = cookie;
  event.pid = pid;
  event.ipv6 = ipv6 ? 1 : 0;
  event.localPort = htons(local.port);
  event.remotePort = htons(remote.port);
  Put(event.local, ipv6, local.address);
  Put(event.remote, ipv6, remote.address);
  return event;
}

ConnectionOwner Program(std::int32_t pid, const char* name) {
  ConnectionOwner owner;
  owner.pid = pid;
  owner.uidKnown = true;
  CopyOwnerName(owner.program, name);
  CopyOwnerName(owner.user, "alice");
  return owner;
}

ConnectionEndpoints Connection(std::uint8_t protocol, End source, End destination) {
  ConnectionEndpoints connection;
  connection.protocol = protocol;
  const bool ipv6 = std::strchr(source.address, ':') != nullptr;
  std::uint8_t bytes[16] = {};
  inet_pton(ipv6 ? AF_INET6 : AF_INET, source.address, bytes);
  std::uint32_t ipv4;
  std::memcpy(&ipv4, bytes, 4);
  connection.source = ipv6 ? IpAddress::Ipv6(bytes) : IpAddress::Ipv4(ipv4);
  inet_pton(ipv6 ? AF_INET6 : AF_INET, destination.address, bytes);
  std::memcpy(&ipv4, bytes, 4);
  connection.destination = ipv6 ? IpAddress::Ipv6(bytes) : IpAddress::Ipv4(ipv4);
  connection.sourcePort = htons(source.port);
  connection.destinationPort = htons(destination.port);
  return connection;
}

// The joins the socket programs' records allow: a connection established
// outside any program belongs to the one that connected its socket, or to
// the one listening on its port; a datagram's to its sender, by both ports
// and the remote address; a socket bound to an address, to its binder. A
// connection established by nobody known stays unknown.
TEST(SocketEventOwnersTest, JoinsRecordsToConnections) {
  CSocketEventOwners owners;
  const End client{"10.0.0.1", 40000}, web{"10.0.0.9", 443}, listener{"10.0.0.1", 22}, peer{"10.0.0.7", 50000};
  const End any{"0.0.0.0", 0}, dns{"10.0.0.53", 53};
  struct Step {
    SocketEvent event;
    ConnectionOwner program;
    bool learnt;
  };
  const Step steps[] = {
      {Event(kSocketConnect, 6, 1, 100, any, web), Program(100, "curl"), false},  // no local end yet
      {Event(kSocketEstablished, 6, 1, 0, client, web), {}, true},
      {Event(kSocketBind, 6, 2, 200, listener, any), Program(200, "sshd"), true},
      {Event(kSocketEstablished, 6, 3, 0, listener, peer), {}, true},  // accepted: a socket of its own
      {Event(kSocketSend, 17, 4, 300, {"0.0.0.0", 5353}, dns), Program(300, "resolver"), true},
      {Event(kSocketEstablished, 6, 5, 0, {"10.0.0.1", 40001}, web), {}, false},  // connected before
      {Event(kSocketConnect, 1, 6, 400, any, web), Program(400, "ping"), false},   // no ports
  };
  for (const Step& step : steps) EXPECT_EQ(owners.Add(step.event, step.program), step.learnt) << int(step.event.kind);

  struct Case {
    ConnectionEndpoints connection;
    const char* program;  // "" when not known
  };
  const Case cases[] = {
      {Connection(6, client, web), "curl"},
      {Connection(6, web, client), "curl"},
      {Connection(6, peer, listener), "sshd"},
      {Connection(6, listener, peer), "sshd"},
      {Connection(17, {"10.0.0.1", 5353}, dns), "resolver"},
      {Connection(17, dns, {"10.0.0.1", 5353}), "resolver"},
      {Connection(17, dns, {"10.0.0.1", 5354}), ""},
      {Connection(6, {"10.0.0.1", 40001}, web), ""},
      {Connection(6, {"10.0.0.2", 22}, peer), ""},  // another address's port 22
  };
  for (const Case& c : cases) {
    ConnectionOwner owner;
    const bool found = owners.Find(c.connection, owner);
    EXPECT_EQ(found ? std::string(owner.program) : "", c.program)
        << ntohs(c.connection.sourcePort) << " > " << ntohs(c.connection.destinationPort);
  }
  ASSERT_NE(owners.ByCookie(2), nullptr);
  EXPECT_EQ(owners.ByCookie(2)->pid, 200);
  EXPECT_EQ(owners.ByCookie(5), nullptr);
}

// IPv6, and IPv4 carried mapped by an IPv6 socket, which the list shows
// as IPv4.
TEST(SocketEventOwnersTest, BothFamiliesAndMappedAddresses) {
  CSocketEventOwners owners;
  owners.Add(Event(kSocketConnect, 6, 1, 100, {"::", 0}, {"fd00::9", 443}, true), Program(100, "six"));
  owners.Add(Event(kSocketEstablished, 6, 1, 0, {"fd00::1", 40000}, {"fd00::9", 443}, true), {});
  owners.Add(Event(kSocketConnect, 6, 2, 200, {"::", 0}, {"::ffff:10.0.0.9", 80}, true), Program(200, "mapped"));
  owners.Add(Event(kSocketEstablished, 6, 2, 0, {"::ffff:10.0.0.1", 40001}, {"::ffff:10.0.0.9", 80}, true), {});
  ConnectionOwner owner;
  ASSERT_TRUE(owners.Find(Connection(6, {"fd00::9", 443}, {"fd00::1", 40000}), owner));
  EXPECT_STREQ(owner.program, "six");
  ASSERT_TRUE(owners.Find(Connection(6, {"10.0.0.1", 40001}, {"10.0.0.9", 80}), owner));
  EXPECT_STREQ(owner.program, "mapped");
}

// Memory stays bounded: the oldest records go first.
TEST(SocketEventOwnersTest, ForgetsTheOldestBeyondItsBound) {
  CSocketEventOwners owners;
  for (std::uint64_t cookie = 1; cookie <= CSocketEventOwners::kMaxEntries + 1; ++cookie)
    owners.Add(Event(kSocketConnect, 6, cookie, 100, {"0.0.0.0", 0}, {"10.0.0.9", 443}), Program(100, "x"));
  EXPECT_EQ(owners.ByCookie(1), nullptr);
  EXPECT_NE(owners.ByCookie(CSocketEventOwners::kMaxEntries + 1), nullptr);
  EXPECT_NE(owners.ByCookie(CSocketEventOwners::kMaxEntries / 2 + 2), nullptr);
}

}  // namespace
