#pragma once

#include <cstdint>
#include <vector>

#include "table/connection_owner.h"
#include "table/traffic_entry.h"

// Why a connection left the table: it went idle, the user emptied the list,
// a new capture replaced the stopped one's connections, its protocol was
// hidden, or the run ended with it still there.
enum class CloseReason : std::uint8_t { kIdle, kCleared, kStopped, kHidden, kEnd };

// The word a file or a record uses for the reason: "idle", "cleared",
// "stopped", "hidden" or "end".
const char* CloseReasonName(CloseReason reason);

// What a connection moved, from its first packet to its last, as it leaves
// the table. Times are the table's millisecond ticks; `closedAt` is the
// tick it left at, so that a reader can turn them into wall-clock times
// (WallClockMs).
struct ClosedConnection {
  ConnectionEndpoints endpoints;
  std::uint64_t bytes = 0;
  std::uint64_t packets = 0;
  std::uint32_t firstSeen = 0;
  std::uint32_t lastSeen = 0;
  std::uint32_t closedAt = 0;
  CloseReason reason = CloseReason::kIdle;
  // Unknown (pid 0, no uid) when nobody looked or nobody was found.
  ConnectionOwner owner;
};

// Milliseconds since the epoch of the tick `tick`, given the tick and the
// wall-clock time of one moment (`nowTick`, `nowMs`) after it.
inline std::int64_t WallClockMs(std::uint32_t tick, std::uint32_t nowTick, std::int64_t nowMs) {
  return nowMs - static_cast<std::int64_t>(nowTick - tick);
}

// Where connections go when they leave the table. Called with the table
// lock held, on the capture thread (idle, stopped, end) or the window's
// (cleared, hidden): an implementation copies what it needs and returns,
// and never waits for a disk, a network or another thread's work.
class ClosedConnectionSink {
 public:
  virtual ~ClosedConnectionSink() = default;
  virtual void ConnectionClosed(const ClosedConnection& connection) = 0;
};

// Hears of the connections that stay in the table for long: a full pass
// reports a connection each time its age passes a whole multiple of
// `intervalMs` (CTrafficList::SetActiveSink), with its figures so far and
// `closedAt` the tick of the report; `reason` means nothing there. Same
// contract as a ClosedConnectionSink: copy and return.
class ActiveConnectionSink {
 public:
  virtual ~ActiveConnectionSink() = default;
  virtual void ConnectionActive(const ClosedConnection& connection) = 0;
};

// Whether a connection first seen at `firstSeen` is due for a report at
// `now`, the previous full pass having run at `previousPass`: a multiple of
// `intervalMs` of its age fell after that pass and by now.
inline bool ActiveReportDue(std::uint32_t firstSeen, std::uint32_t now, std::uint32_t previousPass,
                            std::uint32_t intervalMs) {
  const std::uint32_t age = now - firstSeen;
  if (intervalMs == 0 || age < intervalMs) return false;
  // A connection that came after the previous pass was then no age at all.
  const std::uint32_t ageThen = previousPass - firstSeen > age ? 0 : previousPass - firstSeen;
  return age / intervalMs != ageThen / intervalMs;
}

// Hands each connection to several sinks in turn (a headless run may both
// stream and export flows).
class ClosedConnectionSinks final : public ClosedConnectionSink {
 public:
  void Add(ClosedConnectionSink* sink) { m_sinks.push_back(sink); }
  bool Empty() const { return m_sinks.empty(); }
  void ConnectionClosed(const ClosedConnection& connection) override {
    for (ClosedConnectionSink* sink : m_sinks) sink->ConnectionClosed(connection);
  }

 private:
  std::vector<ClosedConnectionSink*> m_sinks;
};
