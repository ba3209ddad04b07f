#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

// A set of positions in the connection table, one bit each, taken out in
// increasing order: marking the entry of every packet costs one bit in a
// table small enough to stay in cache (128 KiB for a million connections).
class PositionSet {
 public:
  void Insert(std::uint32_t position) {
    const std::size_t word = position / kBits;
    if (word >= m_words.size()) Grow(word);
    m_words[word] |= std::uint64_t{1} << (position % kBits);
  }

  void InsertAll(const PositionSet& other) {
    if (other.m_words.size() > m_words.size()) m_words.resize(other.m_words.size());
    for (std::size_t i = 0; i < other.m_words.size(); ++i) m_words[i] |= other.m_words[i];
  }

  void Erase(std::uint32_t position) {
    const std::size_t word = position / kBits;
    if (word < m_words.size()) m_words[word] &= ~(std::uint64_t{1} << (position % kBits));
  }

  // Empties the set and keeps its room.
  void Clear() { std::fill(m_words.begin(), m_words.end(), std::uint64_t{0}); }

  // Empties the set and gives its room back.
  void Release() {
    m_words.clear();
    m_words.shrink_to_fit();
  }

  // Takes every position out of the set in increasing order and hands it to
  // `visit`, until `visit` answers false; the positions not handed over yet
  // then stay in the set. `visit` may insert the position it was given
  // again: it stays for the next round.
  template <typename Visit>
  bool TakeEach(Visit visit) {
    for (std::size_t word = 0; word < m_words.size(); ++word) {
      std::uint64_t bits = m_words[word];
      if (bits == 0) continue;
      m_words[word] = 0;
      while (bits != 0) {
        const auto position = static_cast<std::uint32_t>(word * kBits + std::countr_zero(bits));
        bits &= bits - 1;
        if (!visit(position)) {
          m_words[word] |= bits;
          return false;
        }
      }
    }
    return true;
  }

 private:
  static constexpr std::size_t kBits = 64;

  // Doubles, so that a table growing one entry at a time reallocates rarely.
  void Grow(std::size_t word) { m_words.resize(std::max(word + 1, m_words.size() * 2)); }

  std::vector<std::uint64_t> m_words;
};
