#include "process/socket_event_owners.h"

#include "table/traffic_entry.h"

namespace {

constexpr std::uint8_t kTcp = 6, kUdp = 17;

IpAddress Local(const SocketEvent& event) { return SocketAddress(event.ipv6 != 0, event.local); }
IpAddress Remote(const SocketEvent& event) { return SocketAddress(event.ipv6 != 0, event.remote); }

}  // namespace

template <typename K, typename H>
const ConnectionOwner* CSocketEventOwners::Aging<K, H>::Find(const K& key) const {
  if (const auto found = newer.find(key); found != newer.end()) return &found->second;
  if (const auto found = older.find(key); found != older.end()) return &found->second;
  return nullptr;
}

template <typename K, typename H>
void CSocketEventOwners::Aging<K, H>::Put(const K& key, const ConnectionOwner& owner) {
  if (newer.size() >= kMaxEntries / 2) {
    older = std::move(newer);
    newer.clear();
  }
  newer.insert_or_assign(key, owner);
}

const ConnectionOwner* CSocketEventOwners::ByCookie(std::uint64_t cookie) const { return m_byCookie.Find(cookie); }

// The socket listening or receiving at the record's local end.
const ConnectionOwner* CSocketEventOwners::Bound(const SocketEvent& event) const {
  const IpAddress local = Local(event);
  if (const ConnectionOwner* owner = m_bound.Find(BoundSocketKey(local, event.localPort, event.protocol)))
    return owner;
  if (const ConnectionOwner* owner = m_bound.Find(AnyAddressSocketKey(local.ipv6, event.localPort, event.protocol)))
    return owner;
  // An IPv6 socket on every address takes IPv4 too.
  return local.ipv6 ? nullptr : m_bound.Find(AnyAddressSocketKey(true, event.localPort, event.protocol));
}

bool CSocketEventOwners::Add(const SocketEvent& event, const ConnectionOwner& program) {
  if (event.protocol != kTcp && event.protocol != kUdp) return false;
  std::lock_guard lock(m_mutex);
  if (program.pid != 0) m_byCookie.Put(event.cookie, program);
  switch (event.kind) {
    case kSocketBind:
      if (program.pid == 0) return false;
      m_bound.Put(BoundSocketKey(Local(event), event.localPort, event.protocol), program);
      return true;
    case kSocketSend:
      if (program.pid == 0 || event.localPort == 0) return false;
      m_connected.Put(MakeSocketKey(IpAddress{Remote(event).ipv6, {}}, event.localPort, Remote(event),
                                    event.remotePort, event.protocol),
                      program);
      return true;
    case kSocketEstablished: {
      // Established outside any program: by the program that connected,
      // else by the one that listens on the local end.
      const ConnectionOwner* owner = m_byCookie.Find(event.cookie);
      if (owner == nullptr) owner = Bound(event);
      if (owner == nullptr) return false;
      const ConnectionOwner known = *owner;
      m_connected.Put(MakeSocketKey(Local(event), event.localPort, Remote(event), event.remotePort, event.protocol),
                      known);
      return true;
    }
    default: return false;
  }
}

// The sender's end first, as the sockets' table does.
bool CSocketEventOwners::Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const {
  const std::uint8_t protocol = connection.protocol;
  if (protocol != kTcp && protocol != kUdp) return false;
  struct End {
    const IpAddress& local;
    std::uint16_t localPort;
    const IpAddress& remote;
    std::uint16_t remotePort;
  };
  std::lock_guard lock(m_mutex);
  for (const End end : {End{connection.source, connection.sourcePort, connection.destination, connection.destinationPort},
                        End{connection.destination, connection.destinationPort, connection.source,
                            connection.sourcePort}}) {
    const ConnectionOwner* found =
        m_connected.Find(MakeSocketKey(end.local, end.localPort, end.remote, end.remotePort, protocol));
    if (found == nullptr)
      found = m_connected.Find(
          MakeSocketKey(IpAddress{end.local.ipv6, {}}, end.localPort, end.remote, end.remotePort, protocol));
    // A socket bound to this very address (one bound to every address
    // needs the machine's addresses: the sockets' table answers for it).
    if (found == nullptr) found = m_bound.Find(BoundSocketKey(end.local, end.localPort, protocol));
    if (found != nullptr) {
      owner = *found;
      return true;
    }
  }
  return false;
}
