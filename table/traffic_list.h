#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "packet/parsed_packet.h"
#include "table/address_book.h"
#include "table/capture_totals.h"
#include "table/closed_connection.h"
#include "table/connection_index.h"
#include "table/entry_pool.h"
#include "table/huge_pages.h"
#include "table/own_addresses.h"
#include "table/position_set.h"
#include "table/traffic_entry.h"
#include "text/totals_line.h"

class CPacketLog;
class CSettings;
class TrafficDisplay;

// The table of connections seen on the adapter, IPv4 and IPv6, and the
// accounting step every captured IP packet goes through.
//
// Entries stay in creation order; the rows of the traffic list appear in the
// same order, so an entry's row is its position among the shown entries.
// The index finds an entry by its key without walking the array.
//
// One recursive lock guards the entries, the key scratch, the status text
// and the totals. The capture thread holds it while it accounts a packet
// and during a refresh pass; the user-interface thread while it empties the
// table or removes a protocol.
class CTrafficList {
 public:
  explicit CTrafficList(CSettings& settings);
  virtual ~CTrafficList();
  CTrafficList(const CTrafficList&) = delete;
  CTrafficList& operator=(const CTrafficList&) = delete;

  // The list and status bar that the table keeps in step; null for none.
  void SetDisplay(TrafficDisplay* display);
  TrafficDisplay* Display() const { return m_display; }

  // The log every counted packet is written to while it is open; null for
  // none. Set it to null before that log goes.
  void SetPacketLog(CPacketLog* log);
  CPacketLog* PacketLog() const { return m_log; }

  // This machine's own addresses on the captured adapter, both families:
  // connections from one of them count as sent (Totals().sentBytes), all
  // others as received. For the connections made from now on: set them
  // before the capture's first frame. None: everything counts as received.
  void SetLocalAddresses(std::vector<IpAddress> addresses);

  // Accounts one packet, as the parser read it.
  void AccountPacket(const ParsedPacket& packet);
  // Reads the IP packet at `ip` (`capturedLength` bytes of it were
  // captured) and accounts it; nothing when it is no IP packet. Without a
  // parser's memory of fragments: a later fragment has no ports.
  void AccountPacket(const std::uint8_t* ip, std::size_t capturedLength);

  // What accounting needs of an IPv4 packet: its key and its length.
  struct PacketHead {
    ConnectionKey key;
    std::uint32_t totalLength;
  };
  static PacketHead HeadOf(const ParsedPacket& ipv4Packet) {
    PacketHead head{};
    std::memcpy(&head.key.sourceAddress, ipv4Packet.Source(), 4);
    std::memcpy(&head.key.destinationAddress, ipv4Packet.Destination(), 4);
    PutPorts(head.key, ipv4Packet);
    head.totalLength = ipv4Packet.totalLength;
    return head;
  }
  // The protocol and the first four bytes of its header into the key.
  static void PutPorts(ConnectionKey& key, const ParsedPacket& packet) {
    std::memcpy(&key.sourcePort, packet.ports, 2);
    std::memcpy(&key.destinationPort, packet.ports + 2, 2);
    key.protocol = packet.protocol;
  }
  // Accounts a run of IPv4 packets exactly as AccountPacket would one by
  // one, under one hold of the lock and with their memory accesses
  // overlapped. Not for packets that must be logged: the log needs the
  // whole packet.
  void AccountPackets(const PacketHead* packets, std::size_t count);
  // Whether packets must reach AccountPacket whole: a log is open. Cheap
  // enough to ask for every frame, and answered without the lock.
  bool NeedsWholePackets() const;

  // The header length assumed for the protocol: the part of a packet that
  // is not counted as data. An IPv6 packet's is 20 bytes longer, as its
  // fixed header is, where IPv4's is not 0.
  static unsigned HeaderLength(std::uint8_t protocol);
  static unsigned HeaderLength(std::uint8_t protocol, bool ipv6);

  // The caller holds the lock for these four.
  int FindEntry() const;                        // position of the key scratch's entry, or -1
  void AddEntry(std::uint32_t totalLength);     // appends an entry for the key scratch
  void RemoveEntry(int index);                  // the display is not touched
  ConnectionKey& KeyScratch() { return m_keyScratch; }

  // Empties the table; each connection is reported as leaving for `reason`.
  void RemoveAll(CloseReason reason = CloseReason::kCleared);
  // Also the ICMPv6 entries when `protocol` is ICMP's: hiding ICMP hides
  // both families'.
  void RemoveProtocol(std::uint8_t protocol);

  // Where connections that leave the table are reported; null for nowhere.
  // Set it to null before that sink goes.
  void SetClosedSink(ClosedConnectionSink* sink);
  // Where connections that stay are reported once every `intervalMs` of
  // their age, by the full passes; null for nowhere. Set it to null before
  // that sink goes.
  void SetActiveSink(ActiveConnectionSink* sink, std::uint32_t intervalMs);
  // Reports the entry to the active sink when a whole interval of its age
  // ended since the full pass at `previousPass`. Caller holds the lock.
  void ReportIfActiveDue(const TrafficEntry& entry, std::uint32_t now, std::uint32_t previousPass) {
    if (m_activeSink != nullptr && ActiveReportDue(entry.firstSeen, now, previousPass, m_activeIntervalMs))
      m_activeSink->ConnectionActive(FiguresOf(entry, CloseReason::kIdle, now));
  }
  // The owner that the entry's row shows, kept for its report when it
  // leaves. Caller holds the lock.
  void NoteOwner(const TrafficEntry& entry, const ConnectionOwner& owner);
  // The owner noted for the entry; null when none was. Caller holds the lock.
  const ConnectionOwner* NotedOwner(const TrafficEntry& entry) const {
    const auto owner = m_owners.find(entry.id);
    return owner != m_owners.end() ? &owner->second : nullptr;
  }
  // The entry's figures and noted owner, as a report at the tick `now` for
  // `reason` gives them. Caller holds the lock.
  ClosedConnection FiguresOf(const TrafficEntry& entry, CloseReason reason, std::uint32_t now) const;
  // Reports the entry as leaving for `reason` at the tick `now`; the caller
  // then removes it. Caller holds the lock.
  void ReportClosed(const TrafficEntry& entry, CloseReason reason, std::uint32_t now) {
    if (m_closedSink != nullptr) ReportToSink(entry, reason, now);
  }

  // Both addresses of a key in full; the caller holds the lock, and the
  // key is one of the table's entries.
  ConnectionEndpoints EndpointsOf(const ConnectionKey& key) const;

  // Visits every entry in order and removes those for which `remove(entry)`
  // answers true, closing all the gaps in one sweep instead of moving the
  // tail once per removed entry. The callback may renumber the rows of the
  // entries it keeps and delete the rows of those it removes. Caller holds
  // the lock. Returns the number of entries removed.
  template <typename Decide>
  std::size_t RemoveEntriesIf(Decide remove);

  // The positions of the entries that saw a packet or were created since
  // the refresh pass last took them out. Positions hold until entries
  // leave the table, which Removals() counts. Caller holds the lock.
  PositionSet& Touched() { return m_touched; }
  std::uint64_t Removals() const { return m_removals; }

  std::recursive_mutex& TableLock() { return m_lock; }
  std::size_t EntryCount() const { return m_entries.size(); }
  TrafficEntry& Entry(std::size_t position) { return *m_entries[position]; }
  // Starts fetching the table's pointer to the entry at the position.
  void PrefetchPosition(std::size_t position) const { __builtin_prefetch(&m_entries[position]); }
  CaptureTotals& Totals() { return m_totals; }
  // The totals line as the status bar shows it now. Caller holds the lock.
  const char* StatusText();

 private:
  bool IsHidden(std::uint8_t protocol, bool ipv6) const;
  // The key of an IPv6 packet, its addresses by their numbers in the
  // address book; false when one of them is in none of the table's keys.
  bool FindIpv6Key(const ParsedPacket& packet, ConnectionKey& key) const;
  // The shared steps of both ways in; the lock is held. Returns false when
  // the packet is not counted.
  bool CountPacket(std::uint8_t protocol, bool ipv6, std::uint32_t totalLength, std::uint32_t& headerLength);
  void MatchPacket(std::uint32_t totalLength, std::uint32_t now, std::uint32_t hash);
  // Counts the packet to the key scratch's entry; false when it has none.
  bool CountToEntry(std::uint32_t totalLength, std::uint32_t now, std::uint32_t hash);
  void AddEntry(std::uint32_t totalLength, std::uint32_t hash);
  // Opens an entry for the IPv4 key scratch unless paused.
  void AddIpv4Entry(std::uint32_t totalLength, std::uint32_t hash);
  bool IsSentFromHere(const ConnectionKey& key) const;
  void CountSentWithoutEntry(const IpAddress& source, std::uint32_t totalLength);
  void AccountIpv6Packet(const ParsedPacket& packet, std::uint32_t totalLength);
  void ReleaseAddresses(const ConnectionKey& key);
  void PublishTotals();
  void FreeAllEntries();
  void ReportToSink(const TrafficEntry& entry, CloseReason reason, std::uint32_t now);
  void ForgetOwner(const TrafficEntry& entry) {
    if (!m_owners.empty()) m_owners.erase(entry.id);
  }

  CSettings& m_settings;
  ConnectionKey m_keyScratch;
  char m_statusText[kTotalsLineSize] = {};
  mutable std::recursive_mutex m_lock;
  EntryPool m_pool;                       // owns the entries
  HugePageVector<TrafficEntry*> m_entries;   // in creation order
  ConnectionIndex m_index{m_pool};
  AddressBook m_ipv6Addresses;  // of the IPv6 entries' keys
  OwnAddresses m_localAddresses;
  PositionSet m_touched;
  std::uint64_t m_removals = 0;
  CaptureTotals m_totals;
  TrafficDisplay* m_display = nullptr;
  CPacketLog* m_log = nullptr;
  ClosedConnectionSink* m_closedSink = nullptr;
  ActiveConnectionSink* m_activeSink = nullptr;
  std::uint32_t m_activeIntervalMs = 0;
  // By entry id, the owners of the entries that have one while a sink
  // listens: the entry itself has no room for them.
  std::unordered_map<std::uint32_t, ConnectionOwner> m_owners;
};

template <typename Decide>
std::size_t CTrafficList::RemoveEntriesIf(Decide remove) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_entries.size(); ++i) {
    TrafficEntry* entry = m_entries[i];
    if (remove(*entry)) {
      m_index.Erase(entry->key);
      ReleaseAddresses(entry->key);
      ForgetOwner(*entry);
      m_pool.Free(entry);
      continue;
    }
    // Only entries that move are written: a sweep that removes nothing
    // leaves a million entries' memory clean.
    if (kept != i) {
      entry->position = static_cast<std::uint32_t>(kept);
      m_entries[kept] = entry;
    }
    ++kept;
  }
  const std::size_t removed = m_entries.size() - kept;
  m_entries.resize(kept);
  if (removed != 0) ++m_removals;
  return removed;
}
