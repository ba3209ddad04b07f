#include "table/traffic_list.h"

#include <algorithm>
#include <cstring>

#include "config/settings.h"
#include "log/packet_log.h"
#include "platform/tick_count.h"
#include "table/traffic_display.h"
#include "text/format_amount.h"
#include "text/protocol_names.h"

namespace {

constexpr std::size_t kIpHeaderLength = 20;
constexpr std::size_t kKeyBytesEnd = 24;  // the two ports end here
constexpr std::uint8_t kIcmp = 1;
constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;

}  // namespace

CTrafficList::CTrafficList(CSettings& settings) : m_settings(settings) { CompleteProtocolNames(); }

CTrafficList::~CTrafficList() { RemoveAll(); }

void CTrafficList::SetDisplay(TrafficDisplay* display) {
  std::lock_guard lock(m_lock);
  m_display = display;
}

void CTrafficList::SetPacketLog(CPacketLog* log) {
  std::lock_guard lock(m_lock);
  m_log = log;
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

bool CTrafficList::IsHidden(std::uint8_t protocol) const {
  switch (protocol) {
    case kTcp: return m_settings.filtertcp != 0;
    case kUdp: return m_settings.filterudp != 0;
    case kIcmp: return m_settings.filtericmp != 0;
    default: return false;
  }
}

void CTrafficList::AccountPacket(const std::uint8_t* ip, std::size_t capturedLength) {
  if (capturedLength < kIpHeaderLength) return;
  std::lock_guard lock(m_lock);
  std::uint32_t headerLength = 0, totalLength = 0;
  if (!CountPacket(ip, headerLength, totalLength)) return;
  PublishTotals();
  FillKey(m_keyScratch, ip, capturedLength);
  if (m_log != nullptr) m_log->WriteLogRecord(ip, headerLength, totalLength, capturedLength);
  MatchPacket(totalLength, platform::TickCount(), m_index.Hash(m_keyScratch));
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
    ConnectionKey& key = keys[i % kRing];
    FillKey(key, packets[i].bytes, packets[i].capturedLength);
    hashes[i % kRing] = m_index.Hash(key);
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
    if (packets[i].capturedLength < kIpHeaderLength) continue;
    std::uint32_t headerLength = 0, totalLength = 0;
    if (!CountPacket(packets[i].bytes, headerLength, totalLength)) continue;
    counted = true;
    m_keyScratch = keys[i % kRing];
    MatchPacket(totalLength, now, hashes[i % kRing]);
  }
  if (counted) PublishTotals();
}

bool CTrafficList::NeedsWholePackets() const { return m_log != nullptr && m_log->IsOpen(); }

bool CTrafficList::CountPacket(const std::uint8_t* ip, std::uint32_t& headerLength, std::uint32_t& totalLength) {
  const std::uint8_t protocol = ip[9];
  if (IsHidden(protocol)) return false;
  headerLength = HeaderLength(protocol);
  totalLength = ip[2] * 256u + ip[3];
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
  if (TrafficEntry* entry = m_index.Find(m_keyScratch, hash)) {
    entry->bytes += totalLength;
    entry->packets += 1;
    entry->lastSeen = now;
    m_touched.Insert(entry->position);
  } else if (m_settings.paused == 0) {
    AddEntry(totalLength, hash);
  }
}

void CTrafficList::FillKey(ConnectionKey& key, const std::uint8_t* ip, std::size_t capturedLength) {
  std::memcpy(&key.sourceAddress, ip + 12, 4);
  std::memcpy(&key.destinationAddress, ip + 16, 4);
  std::uint8_t ports[4] = {0, 0, 0, 0};
  if (capturedLength > kIpHeaderLength)
    std::memcpy(ports, ip + kIpHeaderLength, std::min(capturedLength, kKeyBytesEnd) - kIpHeaderLength);
  std::memcpy(&key.sourcePort, ports, 2);
  std::memcpy(&key.destinationPort, ports + 2, 2);
  key.protocol = ip[9];
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
  entry->position = static_cast<std::uint32_t>(m_entries.size());
  m_index.Insert(entry, hash);
  ReserveOneMore(m_entries);
  m_entries.push_back(entry);
  m_touched.Insert(entry->position);
}

void CTrafficList::RemoveEntry(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size()) return;
  m_index.Erase(m_entries[index]->key);
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
  m_pool.Clear();
  m_touched.Release();
  ++m_removals;
}

void CTrafficList::RemoveAll() {
  std::lock_guard lock(m_lock);
  FreeAllEntries();
  if (m_display != nullptr && m_display->WindowExists()) m_display->DeleteAllRows();
}

// Rows are deleted one by one in table order, each entry that stays moving
// its row up by the number of rows deleted before it, exactly as a walk
// that removed one entry at a time would; the array itself closes its gaps
// once, so hiding a protocol is linear in the table's size.
void CTrafficList::RemoveProtocol(std::uint8_t protocol) {
  std::lock_guard lock(m_lock);
  int deletedRows = 0;
  RemoveEntriesIf([&](TrafficEntry& entry) {
    if (entry.row >= 0) entry.row -= deletedRows;
    if (entry.key.protocol != protocol) return false;
    if (entry.row >= 0) {
      if (m_display != nullptr) m_display->DeleteRow(entry.row);
      ++deletedRows;
    }
    return true;
  });
}
