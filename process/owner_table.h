#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "packet/ip_address.h"
#include "process/proc_socket_scan.h"
#include "process/socket_key.h"
#include "process/socket_record.h"
#include "table/connection_owner.h"

class CSocketEventOwners;
struct ConnectionEndpoints;

// The user names of user ids, each asked of the user database once.
class CUserNames {
 public:
  // The name, or the number when the database has none. Lasts as long as
  // the object.
  const std::string& NameOf(std::uint32_t uid);

 private:
  std::unordered_map<std::uint32_t, std::string> m_names;
};

// The owners of this machine's sockets at one moment, keyed so that a
// connection of the traffic list finds its own: a connected socket by both
// its ends, a socket that only listens or receives by the address and port
// it is bound to (or by its port when bound to every address of the
// machine). Built off the capture thread, then only read.
class COwnerTable {
 public:
  // `localAddresses`: the machine's own, which a socket bound to every
  // address answers for (every 127.x.x.x counts as well). `events`: the
  // programs the socket programs reported, by socket cookie, for the
  // sockets whose process could not be seen (null: none).
  void Build(const std::vector<SocketRecord>& sockets, const ProcessSockets& processes,
             const std::vector<IpAddress>& localAddresses, CUserNames& users,
             const CSocketEventOwners* events = nullptr);

  // The socket that sends from the connection's source first, then the one
  // at its destination: on a connection between two programs of this
  // machine the sender is the owner.
  bool Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const;

  std::size_t SocketCount() const { return m_owners.size(); }

 private:
  using Index = std::unordered_map<SocketKey, std::uint32_t, SocketKeyHash>;

  bool IsLocal(const IpAddress& address) const;
  const ConnectionOwner* Lookup(const Index& index, const SocketKey& key) const;
  const ConnectionOwner* FindAt(const IpAddress& local, std::uint16_t localPort, std::uint8_t protocol) const;

  std::vector<ConnectionOwner> m_owners;
  Index m_connected;
  Index m_bound;
  Index m_anyAddress;
  std::vector<IpAddress> m_localAddresses;  // sorted
};
