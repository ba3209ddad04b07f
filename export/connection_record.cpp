#include "export/connection_record.h"

#include "table/traffic_list.h"

ConnectionRecord RecordOfClosed(const ClosedConnection& closed, std::uint32_t nowTick, std::int64_t nowMs) {
  ConnectionRecord record;
  record.endpoints = closed.endpoints;
  record.bytes = closed.bytes;
  record.packets = closed.packets;
  record.firstSeenMs = WallClockMs(closed.firstSeen, nowTick, nowMs);
  record.lastSeenMs = WallClockMs(closed.lastSeen, nowTick, nowMs);
  record.owner = closed.owner;
  record.reason = closed.reason;
  return record;
}

ConnectionRecord RecordOfEntry(const CTrafficList& table, const TrafficEntry& entry, std::uint32_t nowTick,
                               std::int64_t nowMs) {
  ConnectionRecord record = RecordOfClosed(table.FiguresOf(entry, CloseReason::kEnd, nowTick), nowTick, nowMs);
  record.reason.reset();  // it has not left
  return record;
}
