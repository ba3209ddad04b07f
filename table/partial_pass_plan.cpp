#include "table/partial_pass_plan.h"

#include <algorithm>

#include "table/traffic_entry.h"

bool PartialPassPlan::Holds(const PassTicks& ticks, std::uint32_t idleLimit, std::uint64_t tableRemovals) const {
  if (!m_holds || tableRemovals != m_tableRemovals) return false;
  // The entries not carried had their last packet before the previous
  // pass's tick (the same unsigned comparison as the pass makes).
  if (ticks.trafficSince < m_previousPassTick) return false;
  // Every entry is idle at most as long as the longest at the whole walk
  // plus the time since it; none can have passed the limit.
  const std::uint32_t sinceWalk = ticks.now - m_walkTick;
  return std::uint64_t{m_longestIdle} + sinceWalk <= idleLimit;
}

void PartialPassPlan::StartOver() {
  m_holds = false;
  m_longestIdle = 0;
  m_carried.clear();
  m_awaitingNames.Clear();
  m_anyAwaitingNames = false;
}

void PartialPassPlan::Note(const TrafficEntry& entry, std::uint32_t position, const PassTicks& ticks,
                           PositionSet& touched) {
  if (entry.row < 0) touched.Insert(position);
  if (entry.lastSeen >= ticks.now) m_carried.push_back(Carried{position, entry.lastSeen});
  if (entry.awaitingSourceName || entry.awaitingDestinationName || entry.awaitingOwner) {
    m_awaitingNames.Insert(position);
    m_anyAwaitingNames = true;
  } else if (m_anyAwaitingNames) {
    m_awaitingNames.Erase(position);
  }
}

void PartialPassPlan::NoteIdleTime(std::uint32_t idleTime) { m_longestIdle = std::max(m_longestIdle, idleTime); }

void PartialPassPlan::Complete(const PassTicks& ticks, std::uint64_t tableRemovals) {
  m_holds = true;
  m_tableRemovals = tableRemovals;
  m_previousPassTick = ticks.now;
  m_walkTick = ticks.now;
}

void PartialPassPlan::AddDueEntries(const PassTicks& ticks, bool namesArrived, PositionSet& touched) {
  for (const Carried& carried : m_carried)
    if (carried.lastSeen >= ticks.trafficSince) touched.Insert(carried.position);
  m_carried.clear();
  if (namesArrived) touched.InsertAll(m_awaitingNames);
}
