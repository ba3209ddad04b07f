#pragma once

#include <cstdint>
#include <vector>

#include "ui/traffic_row.h"

// An order of rows in which taking a row out leaves a gap until Compact(),
// so that a burst of removals costs O(log n) each (a Fenwick tree counts the
// rows left of every slot) instead of moving the tail every time. Without
// gaps, a position is simply a slot. Each row records its own slot in the
// member named at construction.
class RowSequence {
 public:
  using SlotMember = std::int32_t TrafficRow::*;

  explicit RowSequence(SlotMember slot) : m_slotMember(slot) {}

  int Size() const { return m_size; }
  bool HasGaps() const { return m_size != static_cast<int>(m_slots.size()); }

  // The row at a position, 0 <= position < Size().
  TrafficRow* At(int position) const;
  // The position of a row that is in the sequence.
  int PositionOf(const TrafficRow& row) const;

  void Append(TrafficRow* row);
  // Anywhere but at the end this moves the tail: the capture side only ever
  // appends.
  void Insert(int position, TrafficRow* row);
  // Leaves a gap where the row was; its slot becomes -1.
  void Remove(TrafficRow& row);
  void Clear();
  // Empties the sequence and hands its rows over, in order.
  std::vector<TrafficRow*> TakeAll();
  // Closes every gap and renumbers the slots; positions do not change.
  void Compact();

  // The rows in order; only without gaps.
  std::vector<TrafficRow*>& Rows() { return m_slots; }
  // After the caller reordered Rows(): renumbers the slots.
  void Renumber();

 private:
  void BuildCounts();
  void AddCount(int slot, int delta);
  int CountUpTo(int slot) const;  // rows in slots [0, slot]

  SlotMember m_slotMember;
  std::vector<TrafficRow*> m_slots;  // null where a row was removed
  std::vector<int> m_counts;         // Fenwick tree over m_slots; empty without gaps
  int m_size = 0;
};
