#include "process/owner_table.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/user_account.h"
#include "process/socket_event_owners.h"
#include "table/traffic_entry.h"

namespace {

constexpr std::uint8_t kTcp = 6, kUdp = 17;

}  // namespace

const std::string& CUserNames::NameOf(std::uint32_t uid) {
  const auto [at, added] = m_names.try_emplace(uid);
  if (added) {
    at->second = platform::AccountOf(static_cast<uid_t>(uid)).name;
    if (at->second.empty()) at->second = std::to_string(uid);
  }
  return at->second;
}

void COwnerTable::Build(const std::vector<SocketRecord>& sockets, const ProcessSockets& processes,
                        const std::vector<IpAddress>& localAddresses, CUserNames& users,
                        const CSocketEventOwners* events) {
  // A socket that several processes share (inherited, passed on) counts
  // as its first process's, the one that made it as a rule.
  std::vector<ProcessSockets::Holder> holders = processes.holders;
  std::sort(holders.begin(), holders.end(), [](const auto& a, const auto& b) {
    return a.inode != b.inode ? a.inode < b.inode : a.pid < b.pid;
  });
  std::vector<ProcessSockets::Program> programs = processes.programs;
  std::sort(programs.begin(), programs.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });

  m_owners.clear();
  m_connected.clear();
  m_bound.clear();
  m_anyAddress.clear();
  m_owners.reserve(sockets.size());
  m_connected.reserve(sockets.size());
  for (const SocketRecord& socket : sockets) {
    // Without an inode no file holds the socket: one waiting to be
    // accepted (its listener answers for it) or one closing.
    if (socket.inode == 0 || (socket.protocol != kTcp && socket.protocol != kUdp)) continue;
    ConnectionOwner owner;
    owner.uid = socket.uid;
    owner.uidKnown = true;
    CopyOwnerName(owner.user, users.NameOf(socket.uid));
    const auto holder = std::lower_bound(holders.begin(), holders.end(), socket.inode,
                                         [](const auto& held, std::uint32_t inode) { return held.inode < inode; });
    if (holder != holders.end() && holder->inode == socket.inode) {
      owner.pid = holder->pid;
      const auto program = std::lower_bound(programs.begin(), programs.end(), holder->pid,
                                            [](const auto& known, pid_t pid) { return known.pid < pid; });
      if (program != programs.end() && program->pid == holder->pid) CopyOwnerName(owner.program, program->name);
    } else if (const ConnectionOwner* reported = events != nullptr ? events->ByCookie(socket.cookie) : nullptr) {
      owner = *reported;
    }
    const auto at = static_cast<std::uint32_t>(m_owners.size());
    m_owners.push_back(owner);
    if (socket.remotePort != 0)
      m_connected.try_emplace(MakeSocketKey(socket.local, socket.localPort, socket.remote, socket.remotePort,
                                           socket.protocol), at);
    else if (IsAnyAddress(socket.local))
      m_anyAddress.try_emplace(AnyAddressSocketKey(socket.local.ipv6, socket.localPort, socket.protocol), at);
    else
      m_bound.try_emplace(BoundSocketKey(socket.local, socket.localPort, socket.protocol), at);
  }
  m_localAddresses = localAddresses;
  std::sort(m_localAddresses.begin(), m_localAddresses.end());
}

bool COwnerTable::IsLocal(const IpAddress& address) const {
  if (!address.ipv6 && address.bytes[0] == 127) return true;
  return std::binary_search(m_localAddresses.begin(), m_localAddresses.end(), address);
}

const ConnectionOwner* COwnerTable::Lookup(const Index& index, const SocketKey& key) const {
  const auto found = index.find(key);
  return found == index.end() ? nullptr : &m_owners[found->second];
}

// A socket that is bound but not connected: to the address itself, or to
// every address of the machine (an IPv6 one of those takes IPv4 as well,
// unless its program said otherwise).
const ConnectionOwner* COwnerTable::FindAt(const IpAddress& local, std::uint16_t localPort,
                                           std::uint8_t protocol) const {
  if (const ConnectionOwner* owner = Lookup(m_bound, BoundSocketKey(local, localPort, protocol))) return owner;
  if (!IsLocal(local)) return nullptr;
  if (!local.ipv6)
    if (const ConnectionOwner* owner = Lookup(m_anyAddress, AnyAddressSocketKey(false, localPort, protocol))) return owner;
  return Lookup(m_anyAddress, AnyAddressSocketKey(true, localPort, protocol));
}

bool COwnerTable::Find(const ConnectionEndpoints& connection, ConnectionOwner& owner) const {
  const std::uint8_t protocol = connection.protocol;
  if (protocol != kTcp && protocol != kUdp) return false;
  const ConnectionOwner* found = Lookup(m_connected, MakeSocketKey(connection.source, connection.sourcePort,
                                                                  connection.destination,
                                                                  connection.destinationPort, protocol));
  if (found == nullptr)
    found = Lookup(m_connected, MakeSocketKey(connection.destination, connection.destinationPort, connection.source,
                                             connection.sourcePort, protocol));
  if (found == nullptr) found = FindAt(connection.source, connection.sourcePort, protocol);
  if (found == nullptr) found = FindAt(connection.destination, connection.destinationPort, protocol);
  if (found == nullptr) return false;
  owner = *found;
  return true;
}
