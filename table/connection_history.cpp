#include "table/connection_history.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/wall_clock.h"

CConnectionHistory::CConnectionHistory(std::size_t capacity, WallClock wallClock)
    : m_capacity(capacity), m_wallClock(wallClock ? std::move(wallClock) : WallClock(platform::WallClockMs)) {}

HistoryEntry CConnectionHistory::Compact(const ClosedConnection& connection, std::int64_t nowMs) {
  HistoryEntry entry;
  entry.endpoints = connection.endpoints;
  entry.bytes = connection.bytes;
  entry.packets = connection.packets;
  entry.lastSeenMs = WallClockMs(connection.lastSeen, connection.closedAt, nowMs);
  entry.durationMs = connection.lastSeen - connection.firstSeen;
  entry.pid = connection.owner.pid;
  entry.uid = connection.owner.uid;
  entry.uidKnown = connection.owner.uidKnown;
  const std::size_t length = strnlen(connection.owner.program, sizeof entry.program - 1);
  std::memcpy(entry.program, connection.owner.program, length);
  entry.reason = connection.reason;
  return entry;
}

// The wall clock is read before the lock: the lock is held for the copy
// alone.
void CConnectionHistory::ConnectionClosed(const ClosedConnection& connection) {
  if (m_capacity == 0) return;
  const HistoryEntry entry = Compact(connection, m_wallClock());
  std::lock_guard lock(m_inboxLock);
  if (m_inbox.size() == m_capacity) {
    m_inbox.pop_front();
    ++m_inboxDropped;
  }
  m_inbox.push_back(entry);
  if (connection.owner.uidKnown && !m_inboxUserNames.contains(connection.owner.uid))
    m_inboxUserNames.emplace(connection.owner.uid, connection.owner.user);
}

CConnectionHistory::Change CConnectionHistory::Collect() {
  std::deque<HistoryEntry> arrived;
  std::uint64_t droppedBefore = 0;
  {
    std::lock_guard lock(m_inboxLock);
    arrived.swap(m_inbox);
    std::swap(droppedBefore, m_inboxDropped);
    // Users are few; their names are copied only when a new one came.
    if (m_inboxUserNames.size() != m_userNames.size()) m_userNames = m_inboxUserNames;
  }
  Change change;
  change.added = arrived.size();
  // The inbox never holds more than the capacity, so the room is made
  // among the entries already kept.
  const std::size_t total = m_entries.size() + arrived.size();
  const std::size_t overflow = total > m_capacity ? total - m_capacity : 0;
  m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<std::ptrdiff_t>(overflow));
  m_firstNumber += overflow;
  change.dropped = overflow;
  m_entries.insert(m_entries.end(), std::make_move_iterator(arrived.begin()), std::make_move_iterator(arrived.end()));
  m_dropped += overflow + droppedBefore;
  return change;
}

ConnectionOwner CConnectionHistory::OwnerOf(const HistoryEntry& entry) const {
  ConnectionOwner owner;
  owner.pid = entry.pid;
  owner.uid = entry.uid;
  owner.uidKnown = entry.uidKnown;
  CopyOwnerName(owner.program, std::string_view(entry.program, strnlen(entry.program, sizeof entry.program)));
  if (entry.uidKnown) {
    const auto name = m_userNames.find(entry.uid);
    if (name != m_userNames.end()) CopyOwnerName(owner.user, name->second);
  }
  return owner;
}
