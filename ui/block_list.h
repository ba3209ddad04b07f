#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// A sequence that grows a block at a time and never moves what it holds:
// an array that doubled its way to half a million elements would hold its
// old and new copies at once, and keep the largest for good. Emptying it
// keeps a few blocks for the next round and gives the rest back.
template <typename T, std::size_t kBlockElements, std::size_t kKeptBlocks = 4>
class BlockList {
 public:
  void push_back(const T& value) {
    if (m_size == m_blocks.size() * kBlockElements) m_blocks.push_back(std::make_unique<T[]>(kBlockElements));
    m_blocks[m_size / kBlockElements][m_size % kBlockElements] = value;
    ++m_size;
  }
  const T& operator[](std::size_t i) const { return m_blocks[i / kBlockElements][i % kBlockElements]; }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  void clear() {
    m_size = 0;
    if (m_blocks.size() > kKeptBlocks) m_blocks.resize(kKeptBlocks);
  }

  class const_iterator {
   public:
    const_iterator(const BlockList& list, std::size_t i) : m_list(&list), m_i(i) {}
    const T& operator*() const { return (*m_list)[m_i]; }
    const_iterator& operator++() {
      ++m_i;
      return *this;
    }
    bool operator!=(const const_iterator& other) const { return m_i != other.m_i; }

   private:
    const BlockList* m_list;
    std::size_t m_i;
  };
  const_iterator begin() const { return {*this, 0}; }
  const_iterator end() const { return {*this, m_size}; }

 private:
  std::vector<std::unique_ptr<T[]>> m_blocks;
  std::size_t m_size = 0;
};
