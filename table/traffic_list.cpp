#include "table/traffic_list.h"

#include <algorithm>
#include <cstring>

#include "config/settings.h"
#include "packet/packet_parser.h"
#include "log/packet_log.h"
#include "platform/tick_count.h"
#include "table/traffic_display.h"
#include "text/format_amount.h"
#include "text/protocol_names.h"

namespace {

constexpr std::uint8_t kIcmp = 1;
constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
constexpr std::uint8_t kIcmpv6 = 58;
constexpr unsigned kIpv6HeaderGrowth = ParsedPacket::kIpv6HeaderLength - ParsedPacket::kIpv4HeaderLength;


}  // namespace

CTrafficList::CTrafficList(CSettings& settings) : m_settings(settings) { CompleteProtocolNames(); }

// Nobody hears of the connections that go with the table.
CTrafficList::~CTrafficList() {
  std::lock_guard lock(m_lock);
  FreeAllEntries();
  if (m_display != nullptr && m_display->WindowExists()) m_display->DeleteAllRows();
}

void CTrafficList::SetDisplay(TrafficDisplay* display) {
  std::lock_guard lock(m_lock);
  m_display = display;
}

void CTrafficList::SetPacketLog(CPacketLog* log) {
  std::lock_guard lock(m_lock);
  m_log = log;
}

void CTrafficList::SetLocalAddresses(std::vector<IpAddress> addresses) {
  std::lock_guard lock(m_lock);
  m_localAddresses = OwnAddresses(std::move(addresses));
}

void CTrafficList::SetClosedSink(ClosedConnectionSink* sink) {
  std::lock_guard lock(m_lock);
  m_closedSink = sink;
  if (sink == nullptr) m_owners.clear();
}

void CTrafficList::NoteOwner(const TrafficEntry& entry, const ConnectionOwner& owner) {
  if (m_closedSink != nullptr) m_owners[entry.id] = owner;
}

void CTrafficList::SetActiveSink(ActiveConnectionSink* sink, std::uint32_t intervalMs) {
  std::lock_guard lock(m_lock);
  m_activeSink = sink;
  m_activeIntervalMs = intervalMs;
}

void CTrafficList::ReportToSink(const TrafficEntry& entry, CloseReason reason, std::uint32_t now) {
  m_closedSink->ConnectionClosed(FiguresOf(entry, reason, now));
}

ClosedConnection CTrafficList::FiguresOf(const TrafficEntry& entry, CloseReason reason, std::uint32_t now) const {
  ClosedConnection closed;
  closed.endpoints = EndpointsOf(entry.key);
  closed.bytes = entry.bytes;
  closed.packets = entry.packets;
  closed.firstSeen = entry.firstSeen;
  closed.lastSeen = entry.lastSeen;
  closed.closedAt = now;
  closed.reason = reason;
  if (const auto owner = m_owners.find(entry.id); owner != m_owners.end()) closed.owner = owner->second;
  return closed;
}

unsigned CTrafficList::HeaderLength(std::uint8_t protocol) {
  switch (protocol) {
    case 2: return 28;   // IGMP
    case 4: return 20;   // IP in IP
    case kTcp: return 40;
    case kUdp: return 28;
    default: return 0;   // ICMP and every other protocol
  }
}

unsigned CTrafficList::HeaderLength(std::uint8_t protocol, bool ipv6) {
  const unsigned length = HeaderLength(protocol);
  return ipv6 && length != 0 ? length + kIpv6HeaderGrowth : length;
}

// ICMPv6 is the ICMP of IPv6: the ICMP switch hides both.
inline bool CTrafficList::IsHidden(std::uint8_t protocol, bool ipv6) const {
  switch (protocol) {
    case kTcp: return m_settings.filtertcp != 0;
    case kUdp: return m_settings.filterudp != 0;
    case kIcmp: return m_settings.filtericmp != 0;
    case kIcmpv6: return ipv6 && m_settings.filtericmp != 0;
    default: return false;
  }
}

void CTrafficList::AccountPacket(const std::uint8_t* ip, std::size_t capturedLength) {
  ParsedPacket packet;
  if (ParseIpPacket(ip, capturedLength, packet)) AccountPacket(packet);
}

void CTrafficList::AccountPacket(const ParsedPacket& packet) {
  std::lock_guard lock(m_lock);
  std::uint32_t headerLength = 0;
  if (!CountPacket(packet.protocol, packet.IsIpv6(), packet.totalLength, headerLength)) return;
  PublishTotals();
  if (m_log != nullptr) m_log->WriteLogRecord(packet, headerLength);
  if (packet.IsIpv6()) {
    AccountIpv6Packet(packet, packet.totalLength);
    return;
  }
  m_keyScratch = HeadOf(packet).key;
  MatchPacket(packet.totalLength, platform::TickCount(), m_index.Hash(m_keyScratch));
}

// An address in none of the table's keys makes a new connection, and the
// address book gets it only then: a packet of a known connection adds no
// holder.
void CTrafficList::AccountIpv6Packet(const ParsedPacket& packet, std::uint32_t totalLength) {
  if (FindIpv6Key(packet, m_keyScratch) &&
      CountToEntry(totalLength, platform::TickCount(), m_index.Hash(m_keyScratch)))
    return;
  if (m_settings.paused != 0) {
    CountSentWithoutEntry(IpAddress::Ipv6(packet.Source()), totalLength);
    return;
  }
  m_keyScratch.sourceAddress = m_ipv6Addresses.Add(packet.Source());
  m_keyScratch.destinationAddress = m_ipv6Addresses.Add(packet.Destination());
  AddEntry(totalLength, m_index.Hash(m_keyScratch));
}

bool CTrafficList::FindIpv6Key(const ParsedPacket& packet, ConnectionKey& key) const {
  key = ConnectionKey();
  key.ipv6 = 1;
  PutPorts(key, packet);
  key.sourceAddress = m_ipv6Addresses.Find(packet.Source());
  key.destinationAddress = m_ipv6Addresses.Find(packet.Destination());
  return key.sourceAddress != AddressBook::kNone && key.destinationAddress != AddressBook::kNone;
}

void CTrafficList::ReleaseAddresses(const ConnectionKey& key) {
  if (key.ipv6 == 0) return;
  m_ipv6Addresses.Release(key.sourceAddress);
  m_ipv6Addresses.Release(key.destinationAddress);
}

ConnectionEndpoints CTrafficList::EndpointsOf(const ConnectionKey& key) const {
  ConnectionEndpoints endpoints = Ipv4EndpointsOf(key);
  if (key.ipv6 != 0) {
    endpoints.source = IpAddress::Ipv6(m_ipv6Addresses.Get(key.sourceAddress).data());
    endpoints.destination = IpAddress::Ipv6(m_ipv6Addresses.Get(key.destinationAddress).data());
  }
  return endpoints;
}

// A rolling pipeline: while packet i is matched, the index slot of packet
// i + kSlotsAhead and the entry of packet i + kEntriesAhead are on their
// way from memory, so that a steady number of misses is in flight.
void CTrafficList::AccountPackets(const PacketHead* packets, std::size_t count) {
  constexpr std::size_t kSlotsAhead = 24;
  constexpr std::size_t kEntriesAhead = 12;
  constexpr std::size_t kRing = 32;
  static_assert(kEntriesAhead < kSlotsAhead && kSlotsAhead < kRing);
  ConnectionKey keys[kRing];
  std::uint32_t hashes[kRing];
  const auto prepare = [&](std::size_t i) {
    keys[i % kRing] = packets[i].key;
    hashes[i % kRing] = m_index.Hash(packets[i].key);
    m_index.PrefetchSlot(hashes[i % kRing]);
  };
  std::lock_guard lock(m_lock);
  const std::uint32_t now = platform::TickCount();
  for (std::size_t i = 0; i < std::min(count, kSlotsAhead); ++i) prepare(i);
  for (std::size_t i = 0; i < std::min(count, kEntriesAhead); ++i) m_index.PrefetchEntry(hashes[i]);
  bool counted = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kSlotsAhead < count) prepare(i + kSlotsAhead);
    if (i + kEntriesAhead < count) m_index.PrefetchEntry(hashes[(i + kEntriesAhead) % kRing]);
    std::uint32_t headerLength = 0;
    const std::uint32_t totalLength = packets[i].totalLength;
    if (!CountPacket(packets[i].key.protocol, false, totalLength, headerLength)) continue;
    counted = true;
    m_keyScratch = keys[i % kRing];
    MatchPacket(totalLength, now, hashes[i % kRing]);
  }
  if (counted) PublishTotals();
}

bool CTrafficList::NeedsWholePackets() const { return m_log != nullptr && m_log->IsOpen(); }

bool CTrafficList::CountPacket(std::uint8_t protocol, bool ipv6, std::uint32_t totalLength,
                               std::uint32_t& headerLength) {
  if (IsHidden(protocol, ipv6)) return false;
  headerLength = HeaderLength(protocol, ipv6);
  if (headerLength >= totalLength) return false;
  m_totals.packets += 1;
  m_totals.dataBytes += totalLength - headerLength;
  m_totals.totalBytes += totalLength;
  return true;
}

void CTrafficList::PublishTotals() {
  if (m_display != nullptr)
    m_display->SetStatusTotals(m_totals.packets, m_totals.dataBytes, m_totals.totalBytes, m_settings.units);
}

// Matches the key scratch to its entry, straight through the index (the
// entry's position is not needed), or opens a new one unless paused.
void CTrafficList::MatchPacket(std::uint32_t totalLength, std::uint32_t now, std::uint32_t hash) {
  if (!CountToEntry(totalLength, now, hash)) AddIpv4Entry(totalLength, hash);
}

// Out of the way of the packets of known connections, which are most.
[[gnu::noinline]] void CTrafficList::AddIpv4Entry(std::uint32_t totalLength, std::uint32_t hash) {
  if (m_settings.paused == 0)
    AddEntry(totalLength, hash);
  else
    CountSentWithoutEntry(IpAddress::Ipv4(m_keyScratch.sourceAddress), totalLength);
}

// A packet that a pause keeps out of the table is in the totals all the
// same, and so on its side of them.
void CTrafficList::CountSentWithoutEntry(const IpAddress& source, std::uint32_t totalLength) {
  if (m_localAddresses.Contains(source)) m_totals.sentBytes += totalLength;
}

bool CTrafficList::IsSentFromHere(const ConnectionKey& key) const {
  if (m_localAddresses.Empty()) return false;
  if (key.ipv6 == 0) return m_localAddresses.Contains(IpAddress::Ipv4(key.sourceAddress));
  return m_localAddresses.Contains(IpAddress::Ipv6(m_ipv6Addresses.Get(key.sourceAddress).data()));
}

bool CTrafficList::CountToEntry(std::uint32_t totalLength, std::uint32_t now, std::uint32_t hash) {
  TrafficEntry* entry = m_index.Find(m_keyScratch, hash);
  if (entry == nullptr) return false;
  entry->bytes += totalLength;
  entry->packets += 1;
  entry->lastSeen = now;
  // A mask, not a branch (which the compiler makes of a condition here):
  // sent and received packets come in no order a prediction could learn.
  m_totals.sentBytes += totalLength & -std::uint64_t{entry->sent};
  m_touched.Insert(entry->position);
  return true;
}

const char* CTrafficList::StatusText() {
  FormatTotalsLine(m_statusText, m_totals.packets, m_totals.dataBytes, m_totals.totalBytes, m_settings.units);
  return m_statusText;
}

int CTrafficList::FindEntry() const {
  const TrafficEntry* entry = m_index.Find(m_keyScratch);
  return entry != nullptr ? static_cast<int>(entry->position) : -1;
}

void CTrafficList::AddEntry(std::uint32_t totalLength) { AddEntry(totalLength, m_index.Hash(m_keyScratch)); }

void CTrafficList::AddEntry(std::uint32_t totalLength, std::uint32_t hash) {
  TrafficEntry* entry = m_pool.Allocate();
  entry->key = m_keyScratch;
  entry->bytes = totalLength;
  entry->bytesAtLastFullPass = 0;
  entry->packets = 1;
  entry->firstSeen = entry->lastSeen = platform::TickCount();
  entry->row = -1;
  entry->sent = IsSentFromHere(m_keyScratch);
  if (entry->sent) m_totals.sentBytes += totalLength;
  entry->position = static_cast<std::uint32_t>(m_entries.size());
  m_index.Insert(entry, hash);
  ReserveOneMore(m_entries);
  m_entries.push_back(entry);
  m_touched.Insert(entry->position);
}

void CTrafficList::RemoveEntry(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size()) return;
  m_index.Erase(m_entries[index]->key);
  ReleaseAddresses(m_entries[index]->key);
  ForgetOwner(*m_entries[index]);
  m_pool.Free(m_entries[index]);
  m_entries.erase(m_entries.begin() + index);
  for (std::size_t i = index; i < m_entries.size(); ++i)
    m_entries[i]->position = static_cast<std::uint32_t>(i);
  ++m_removals;
}

void CTrafficList::FreeAllEntries() {
  m_entries.clear();
  m_entries.shrink_to_fit();
  m_index.Clear();
  m_ipv6Addresses.Clear();
  m_pool.Clear();
  m_owners.clear();
  m_touched.Release();
  ++m_removals;
}

void CTrafficList::RemoveAll(CloseReason reason) {
  std::lock_guard lock(m_lock);
  if (m_closedSink != nullptr) {
    const std::uint32_t now = platform::TickCount();
    for (const TrafficEntry* entry : m_entries) ReportToSink(*entry, reason, now);
  }
  FreeAllEntries();
  if (m_display != nullptr && m_display->WindowExists()) m_display->DeleteAllRows();
}

// Rows are deleted one by one in table order, each entry that stays moving
// its row up by the number of rows deleted before it, exactly as a walk
// that removed one entry at a time would; the array itself closes its gaps
// once, so hiding a protocol is linear in the table's size.
void CTrafficList::RemoveProtocol(std::uint8_t protocol) {
  std::lock_guard lock(m_lock);
  const std::uint32_t now = platform::TickCount();
  int deletedRows = 0;
  RemoveEntriesIf([&](TrafficEntry& entry) {
    if (entry.row >= 0) entry.row -= deletedRows;
    const bool icmpv6 = protocol == kIcmp && entry.key.ipv6 != 0 && entry.key.protocol == kIcmpv6;
    if (entry.key.protocol != protocol && !icmpv6) return false;
    ReportClosed(entry, CloseReason::kHidden, now);
    if (entry.row >= 0) {
      if (m_display != nullptr) m_display->DeleteRow(entry.row);
      ++deletedRows;
    }
    return true;
  });
}
