#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "table/closed_connection.h"

// One connection of the history, as compact as it can be kept a hundred
// thousand times: the last packet as a wall-clock time and the first as
// the time before it, the owner's program (a kernel name has at most 15
// bytes) and user id, the user's name kept once per id in the history.
struct HistoryEntry {
  static constexpr std::size_t kProgramSize = 16;

  ConnectionEndpoints endpoints;
  std::uint64_t bytes = 0;
  std::uint64_t packets = 0;
  std::int64_t lastSeenMs = 0;   // since the epoch
  std::uint32_t durationMs = 0;  // from the first packet to the last
  std::int32_t pid = 0;          // 0: the program is not known
  std::uint32_t uid = 0;
  char program[kProgramSize] = {};
  CloseReason reason = CloseReason::kIdle;
  bool uidKnown = false;

  std::int64_t FirstSeenMs() const { return lastSeenMs - durationMs; }
};

// The connections that left the table during this run, oldest first,
// bounded: past `capacity` the oldest go and are counted. Nothing is
// written anywhere.
//
// The table reports to it on the capture thread and on the window's, with
// its lock held: that side only appends to an inbox under a short lock of
// the history's own. One reader (the window) brings the inbox into the
// history with Collect and alone reads the history; it never waits for the
// capture thread, only for that short lock.
class CConnectionHistory final : public ClosedConnectionSink {
 public:
  static constexpr std::size_t kDefaultCapacity = 100000;
  using WallClock = std::function<std::int64_t()>;

  // `wallClock` says the time now in milliseconds since the epoch.
  explicit CConnectionHistory(std::size_t capacity = kDefaultCapacity, WallClock wallClock = {});

  // Any thread; copies and returns.
  void ConnectionClosed(const ClosedConnection& connection) override;

  // What one Collect changed: connections added at the end, and the oldest
  // that went from the front to make room.
  struct Change {
    std::size_t added = 0;
    std::size_t dropped = 0;
  };
  // Brings the connections closed since the last call into the history.
  Change Collect();

  // The reader's side, between two Collects.
  std::size_t Size() const { return m_entries.size(); }
  std::size_t Capacity() const { return m_capacity; }
  // By age, 0 the oldest kept.
  const HistoryEntry& At(std::size_t index) const { return m_entries[index]; }
  // The number of the oldest entry kept: entries are numbered in the
  // order they came, from 0, and keep their number while they are kept.
  std::uint64_t FirstNumber() const { return m_firstNumber; }
  // Every connection that went to make room, since the start.
  std::uint64_t Dropped() const { return m_dropped; }
  // The owner as the list showed it: unknown parts empty.
  ConnectionOwner OwnerOf(const HistoryEntry& entry) const;

 private:
  HistoryEntry Compact(const ClosedConnection& connection, std::int64_t nowMs);

  const std::size_t m_capacity;
  const WallClock m_wallClock;

  std::mutex m_inboxLock;
  std::deque<HistoryEntry> m_inbox;  // at most m_capacity
  std::uint64_t m_inboxDropped = 0;  // went before they were collected
  std::unordered_map<std::uint32_t, std::string> m_inboxUserNames;  // by uid

  std::deque<HistoryEntry> m_entries;
  std::unordered_map<std::uint32_t, std::string> m_userNames;  // the reader's copy
  std::uint64_t m_firstNumber = 0;
  std::uint64_t m_dropped = 0;
};
