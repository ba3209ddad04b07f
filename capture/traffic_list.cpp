#include "capture/traffic_list.h"

#include <algorithm>
#include <cstring>

#include "capture/decimal_text.h"
#include "capture/format_amount.h"
#include "capture/packet_log.h"
#include "capture/protocol_names.h"
#include "capture/traffic_display.h"
#include "config/settings.h"
#include "platform/tick_count.h"

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
  const std::uint8_t protocol = ip[9];
  if (IsHidden(protocol)) return;
  const std::uint32_t headerLength = HeaderLength(protocol);
  const std::uint32_t totalLength = ip[2] * 256u + ip[3];
  if (headerLength >= totalLength) return;

  m_totals.packets += 1;
  m_totals.dataBytes += totalLength - headerLength;
  m_totals.totalBytes += totalLength;
  WriteStatusText();

  FillKeyScratch(ip, capturedLength);
  if (m_log != nullptr) m_log->WriteLogRecord(ip, headerLength, totalLength, capturedLength);
  // Straight through the index to the entry: its position is not needed.
  if (TrafficEntry* entry = m_index.Find(m_keyScratch)) {
    entry->bytes += totalLength;
    entry->packets += 1;
    entry->lastSeen = platform::TickCount();
  } else if (m_settings.paused == 0) {
    AddEntry(totalLength);
  }
}

void CTrafficList::FillKeyScratch(const std::uint8_t* ip, std::size_t capturedLength) {
  std::memcpy(&m_keyScratch.sourceAddress, ip + 12, 4);
  std::memcpy(&m_keyScratch.destinationAddress, ip + 16, 4);
  std::uint8_t ports[4] = {0, 0, 0, 0};
  std::memcpy(ports, ip + kIpHeaderLength, std::min(capturedLength, kKeyBytesEnd) - kIpHeaderLength);
  std::memcpy(&m_keyScratch.sourcePort, ports, 2);
  std::memcpy(&m_keyScratch.destinationPort, ports + 2, 2);
  m_keyScratch.protocol = ip[9];
}

// The status bar shows this line after every counted packet. It is built by
// hand rather than with printf: this runs once per packet.
void CTrafficList::WriteStatusText() {
  const int units = m_settings.units;
  char* out = m_statusText;
  out = AppendText(out, "All packets: ");
  out = AppendDecimal(out, m_totals.packets);
  out = AppendText(out, ", Data: ");
  out = AppendText(out, FormatAmount(m_totals.dataBytes, 1, 0, units));
  out = AppendText(out, ", Total traffic: ");
  out = AppendText(out, FormatAmount(m_totals.totalBytes, 1, 0, units));
  *out = '\0';
  if (m_display != nullptr) m_display->SetStatusText(m_statusText);
}

int CTrafficList::FindEntry() const {
  const TrafficEntry* entry = m_index.Find(m_keyScratch);
  return entry != nullptr ? static_cast<int>(entry->position) : -1;
}

void CTrafficList::AddEntry(std::uint32_t totalLength) {
  TrafficEntry* entry = m_pool.Allocate();
  entry->key = m_keyScratch;
  entry->bytes = totalLength;
  entry->bytesAtLastFullPass = 0;
  entry->packets = 1;
  entry->firstSeen = entry->lastSeen = platform::TickCount();
  entry->row = -1;
  entry->position = static_cast<std::uint32_t>(m_entries.size());
  m_index.Insert(entry);
  m_entries.push_back(entry);
}

void CTrafficList::RemoveEntry(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size()) return;
  m_index.Erase(m_entries[index]->key);
  m_pool.Free(m_entries[index]);
  m_entries.erase(m_entries.begin() + index);
  for (std::size_t i = index; i < m_entries.size(); ++i)
    m_entries[i]->position = static_cast<std::uint32_t>(i);
}

void CTrafficList::FreeAllEntries() {
  m_entries.clear();
  m_entries.shrink_to_fit();
  m_index.Clear();
  m_pool.Clear();
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
