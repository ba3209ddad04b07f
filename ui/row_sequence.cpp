#include "ui/row_sequence.h"

#include <algorithm>
#include <bit>

TrafficRow* RowSequence::At(int position) const {
  if (!HasGaps()) return m_slots[position];
  // The slot holding the (position + 1)-th row, found by descending the tree.
  int slot = 0;  // 1-based slot count covered so far
  int remaining = position + 1;
  const int n = static_cast<int>(m_counts.size());
  for (int step = static_cast<int>(std::bit_floor(static_cast<unsigned>(n))); step > 0; step >>= 1) {
    const int next = slot + step;
    if (next <= n && m_counts[next - 1] < remaining) {
      slot = next;
      remaining -= m_counts[next - 1];
    }
  }
  return m_slots[slot];
}

int RowSequence::PositionOf(const TrafficRow& row) const {
  const int slot = row.*m_slotMember;
  return HasGaps() ? CountUpTo(slot) - 1 : slot;
}

void RowSequence::Append(TrafficRow* row) {
  row->*m_slotMember = static_cast<std::int32_t>(m_slots.size());
  m_slots.push_back(row);
  ++m_size;
  if (m_counts.empty()) return;
  // The new node covers (i - lowbit(i), i] in 1-based terms: itself plus the
  // rows already counted in that range.
  const int i = static_cast<int>(m_slots.size());
  const int low = i & -i;
  m_counts.push_back(1 + (CountUpTo(i - 2) - (i - low >= 1 ? CountUpTo(i - low - 1) : 0)));
}

void RowSequence::Insert(int position, TrafficRow* row) {
  if (position >= m_size) {
    Append(row);
    return;
  }
  Compact();
  m_slots.insert(m_slots.begin() + position, row);
  ++m_size;
  Renumber();
}

void RowSequence::Remove(TrafficRow& row) {
  const int slot = row.*m_slotMember;
  if (slot < 0) return;
  if (m_counts.empty()) BuildCounts();
  AddCount(slot, -1);
  m_slots[slot] = nullptr;
  row.*m_slotMember = -1;
  --m_size;
}

void RowSequence::Clear() {
  for (TrafficRow* row : m_slots)
    if (row != nullptr) row->*m_slotMember = -1;
  m_slots.clear();
  m_counts.clear();
  m_size = 0;
}

std::vector<TrafficRow*> RowSequence::TakeAll() {
  Compact();
  std::vector<TrafficRow*> rows = std::move(m_slots);
  Clear();
  return rows;
}

void RowSequence::Compact() {
  if (!HasGaps()) return;
  m_slots.erase(std::remove(m_slots.begin(), m_slots.end(), nullptr), m_slots.end());
  m_counts.clear();
  Renumber();
}

void RowSequence::Renumber() {
  for (std::size_t i = 0; i < m_slots.size(); ++i) m_slots[i]->*m_slotMember = static_cast<std::int32_t>(i);
}

void RowSequence::BuildCounts() {
  const int n = static_cast<int>(m_slots.size());
  m_counts.assign(n, 0);
  for (int i = 0; i < n; ++i) {
    m_counts[i] += m_slots[i] != nullptr ? 1 : 0;
    const int parent = (i | (i + 1));
    if (parent < n) m_counts[parent] += m_counts[i];
  }
}

void RowSequence::AddCount(int slot, int delta) {
  for (int i = slot; i < static_cast<int>(m_counts.size()); i |= i + 1) m_counts[i] += delta;
}

int RowSequence::CountUpTo(int slot) const {
  int sum = 0;
  for (int i = slot; i >= 0; i = (i & (i + 1)) - 1) sum += m_counts[i];
  return sum;
}
