#pragma once

#include <cstdint>
#include <vector>

#include "table/position_set.h"

struct TrafficEntry;

// Lets a partial refresh pass visit only the entries it can change instead
// of the whole table: the entries the table marked as touched (a packet, or
// created), the entries whose last packet still counts as traffic for this
// pass, the entries still waiting for a row, and, when host names or owners arrived,
// those whose rows wait for a name or an owner. Visited in table order, they get the
// same row operations in the same order as a walk over every entry.
//
// That holds only while no entry can expire, since a deletion renumbers
// every later row: the walk over the whole table records the longest idle
// time it kept, and from it the plan tells when an entry might now be idle
// past the limit. It also holds only while positions stay put (no entry
// left the table since) and while traffic is counted from no earlier than
// the previous pass's own tick, as the capture thread does. Otherwise, and
// on full and paused passes, the pass walks every entry and the plan starts
// over from that walk. Ticks are assumed to only move forward (modulo 2^32).
class PartialPassPlan {
 public:
  // The same for every entry of one pass.
  struct PassTicks {
    std::uint32_t now;
    // Last seen at or after this tick is traffic for the pass.
    std::uint32_t trafficSince;
  };

  // Whether a partial pass may visit only the entries the plan names.
  bool Holds(const PassTicks& ticks, std::uint32_t idleLimit, std::uint64_t tableRemovals) const;
  // Before a walk over the whole table.
  void StartOver();
  // After an entry's visit, with its position once the pass is done.
  // `touched` is the table's set, where an entry still without a row stays.
  void Note(const TrafficEntry& entry, std::uint32_t position, const PassTicks& ticks, PositionSet& touched);
  // An entry that a whole walk kept, idle for `idleTime`.
  void NoteIdleTime(std::uint32_t idleTime);
  // After a walk over the whole table that ran to its end unpaused.
  void Complete(const PassTicks& ticks, std::uint64_t tableRemovals);
  // After a partial pass that ran to its end.
  void CompletePartial(const PassTicks& ticks) { m_previousPassTick = ticks.now; }
  // A pass stopped half-way: the next one walks the whole table.
  void Abandon() { m_holds = false; }
  // Adds to `touched` what a partial pass must visit besides the touched
  // entries.
  // `namesArrived`: host names or owners came since the last pass.
  void AddDueEntries(const PassTicks& ticks, bool namesArrived, PositionSet& touched);

 private:
  struct Carried {
    std::uint32_t position;
    std::uint32_t lastSeen;
  };

  bool m_holds = false;
  std::uint64_t m_tableRemovals = 0;
  std::uint32_t m_previousPassTick = 0;
  // The whole walk's tick and the longest idle time among the entries it kept.
  std::uint32_t m_walkTick = 0;
  std::uint32_t m_longestIdle = 0;
  // Entries seen in the previous pass with a packet in its very tick (the
  // clock steps in milliseconds): that packet may count as traffic for the
  // next pass too.
  std::vector<Carried> m_carried;
  PositionSet m_awaitingNames;
  bool m_anyAwaitingNames = false;
};
