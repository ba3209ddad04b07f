#pragma once

#include <cstdint>
#include <optional>

#include "table/closed_connection.h"
#include "table/connection_owner.h"
#include "table/traffic_entry.h"

class CTrafficList;

// One connection as an export file holds it: its endpoints, its figures,
// its first and last packet as wall-clock times and, when known, its owner;
// a connection that left the table also says why.
struct ConnectionRecord {
  ConnectionEndpoints endpoints;
  std::uint64_t bytes = 0;
  std::uint64_t packets = 0;
  std::int64_t firstSeenMs = 0;  // since the epoch
  std::int64_t lastSeenMs = 0;
  ConnectionOwner owner;
  std::optional<CloseReason> reason;
};

// `nowTick` and `nowMs` name one moment on both clocks, at or after the
// connection's last packet.
ConnectionRecord RecordOfClosed(const ClosedConnection& closed, std::uint32_t nowTick, std::int64_t nowMs);
// A connection still in the table; the caller holds the table's lock.
ConnectionRecord RecordOfEntry(const CTrafficList& table, const TrafficEntry& entry, std::uint32_t nowTick,
                               std::int64_t nowMs);
