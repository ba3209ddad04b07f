#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "capture_helper/socket_event.h"
#include "process/socket_key.h"
#include "table/connection_owner.h"

struct ConnectionEndpoints;

// The owners that the capture helper's socket programs report, as they
// come: a socket's program from the moment it binds, connects or sends,
// joined to the connection by its two ends once it is established (for a
// connection accepted by a server, through the socket that listens on its
// port), or by both ports and the remote address of a datagram. Unlike a
// look at the sockets, it also knows programs that ended long ago. Records
// come in on one thread (Add); Find may be called from any other.
class CSocketEventOwners {
 public:
  // Entries kept before the oldest half is forgotten.
  static constexpr std::size_t kMaxEntries = 65536;

  // Takes one record and its program (empty when the record has no
  // process). Answers whether an owner became known.
  bool Add(const SocketEvent& event, const ConnectionOwner& program);

  bool Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const;
  // The program of a socket, by its cookie: the adding thread's only.
  const ConnectionOwner* ByCookie(std::uint64_t cookie) const;

 private:  // Two generations: lookups see both, and when the newer is full the
  // older goes, so that memory stays bounded without a clock.
  template <typename K, typename H>
  struct Aging {
    std::unordered_map<K, ConnectionOwner, H> newer, older;
    const ConnectionOwner* Find(const K& key) const;
    void Put(const K& key, const ConnectionOwner& owner);
  };

  const ConnectionOwner* Bound(const SocketEvent& event) const;

  mutable std::mutex m_mutex;  // held by Find and by a record's changes only
  Aging<std::uint64_t, std::hash<std::uint64_t>> m_byCookie;
  Aging<SocketKey, SocketKeyHash> m_connected;  // both ends; a datagram's local address is any
  Aging<SocketKey, SocketKeyHash> m_bound;      // the local end only
};
