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
