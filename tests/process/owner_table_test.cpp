#include "process/owner_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "support/address_text.h"
#include "table/traffic_entry.h"

namespace {

IpAddress Address(const char* text) { return ParseAddress(text); }

SocketRecord Socket(std::uint8_t protocol, const char* local, std::uint16_t localPort, const char* remote,
                    std::uint16_t remotePort, std::uint32_t inode, std::uint32_t uid = 3999999000u) {
  SocketRecord record;
  record.protocol = protocol;
  record.local = Address(local);
  record.localPort = htons(localPort);
  record.remote = Address(remote);
  record.remotePort = htons(remotePort);
  record.inode = inode;
  record.uid = uid;
  return record;
}

ConnectionEndpoints Connection(std::uint8_t protocol, const char* source, std::uint16_t sourcePort,
                               const char* destination, std::uint16_t destinationPort) {
  ConnectionEndpoints connection;
  connection.protocol = protocol;
  connection.source = Address(source);
  connection.sourcePort = htons(sourcePort);
  connection.destination = Address(destination);
  connection.destinationPort = htons(destinationPort);
  return connection;
}

class OwnerTableTest : public ::testing::Test {
 protected:
  OwnerTableTest() {
    const std::vector<SocketRecord> sockets = {
        Socket(6, "10.0.0.1", 40000, "10.0.0.9", 80, 101),     // a browser's connection
        Socket(6, "127.0.0.1", 5000, "127.0.0.1", 8080, 102),  // a client on loopback
        Socket(6, "127.0.0.1", 8080, "127.0.0.1", 5000, 103),  // and the server's end of it
        Socket(6, "0.0.0.0", 22, "0.0.0.0", 0, 104, 0),        // a listener on every address
        Socket(17, "10.0.0.1", 53, "0.0.0.0", 0, 105),         // a receiver on one address
        Socket(17, "::", 443, "::", 0, 106),                   // IPv6 on every address, IPv4 too
        Socket(6, "fd00::1", 41000, "fd00::9", 443, 107, 3999999001u),  // IPv6, held by no process we see
        Socket(6, "10.0.0.1", 40001, "10.0.0.9", 80, 0),       // closing: no file holds it
    };
    ProcessSockets processes;
    processes.holders = {{101, 300}, {102, 301}, {103, 302}, {104, 303}, {105, 304}, {106, 305},
                         {104, 310}};  // the listener shared by a later child
    processes.programs = {{300, "browser"}, {301, "client"}, {302, "server"},
                          {303, "sshd"},    {304, "dns"},    {305, "quic"}, {310, "sshd-child"}};
    m_table.Build(sockets, processes, {Address("10.0.0.1"), Address("fd00::1")}, m_users);
  }

  std::string Owner(const ConnectionEndpoints& connection) {
    ConnectionOwner owner;
    if (!m_table.Find(connection, owner)) return "-";
    char program[kProgramTextSize];
    return std::string(ProgramText(owner, program)) + "/" + UserText(owner);
  }

  CUserNames m_users;
  COwnerTable m_table;
};

TEST_F(OwnerTableTest, FindsTheSocketAtEitherEndOfAConnection) {
  const std::string root = m_users.NameOf(0);
  struct Case {
    ConnectionEndpoints connection;
    std::string owner;
  };
  const Case cases[] = {
      {Connection(6, "10.0.0.1", 40000, "10.0.0.9", 80), "browser (300)/3999999000"},
      {Connection(6, "10.0.0.9", 80, "10.0.0.1", 40000), "browser (300)/3999999000"},
      {Connection(6, "127.0.0.1", 5000, "127.0.0.1", 8080), "client (301)/3999999000"},  // the sender's
      {Connection(6, "127.0.0.1", 8080, "127.0.0.1", 5000), "server (302)/3999999000"},
      {Connection(6, "10.9.9.9", 50000, "10.0.0.1", 22), "sshd (303)/" + root},  // to the listener
      {Connection(6, "10.0.0.1", 22, "10.9.9.9", 50000), "sshd (303)/" + root},
      {Connection(6, "10.9.9.9", 50000, "10.0.0.7", 22), "-"},  // not an address of ours
      {Connection(17, "10.0.0.1", 53, "10.9.9.9", 3333), "dns (304)/3999999000"},
      {Connection(17, "10.0.0.2", 53, "10.9.9.9", 3333), "-"},
      {Connection(6, "10.0.0.1", 53, "10.9.9.9", 3333), "-"},  // another protocol
      {Connection(17, "10.9.9.9", 3333, "10.0.0.1", 443), "quic (305)/3999999000"},
      {Connection(17, "fd00::9", 3333, "fd00::1", 443), "quic (305)/3999999000"},
      {Connection(6, "fd00::9", 443, "fd00::1", 41000), "/3999999001"},  // the user alone
      {Connection(6, "10.0.0.1", 40001, "10.0.0.9", 80), "-"},
      {Connection(1, "10.0.0.1", 0, "10.0.0.9", 0), "-"},
  };
  for (const Case& c : cases) {
    char source[IpAddress::kTextSize], destination[IpAddress::kTextSize];
    EXPECT_EQ(Owner(c.connection), c.owner) << FormatIpAddress(c.connection.source, source) << ":"
                                            << ntohs(c.connection.sourcePort) << " > "
                                            << FormatIpAddress(c.connection.destination, destination) << ":"
                                            << ntohs(c.connection.destinationPort) << " " << int(c.connection.protocol);
  }
}

TEST(UserNamesTest, NamesFromTheDatabaseAndNumbersWithout) {
  CUserNames users;
  EXPECT_EQ(users.NameOf(0), "root");
  EXPECT_EQ(users.NameOf(4000000000u), "4000000000");
}

}  // namespace
