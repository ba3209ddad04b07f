#include "table/address_book.h"

#include <cstring>
#include <random>

namespace {

std::uint64_t Mix(std::uint64_t h) {
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

AddressBook::Address ToAddress(const std::uint8_t* bytes) {
  AddressBook::Address address;
  std::memcpy(address.data(), bytes, address.size());
  return address;
}

}  // namespace

std::size_t AddressBook::Hash::operator()(const Address& address) const {
  std::uint64_t words[2];
  std::memcpy(words, address.data(), sizeof words);
  return static_cast<std::size_t>(Mix(Mix(words[0] ^ seed) ^ words[1]));
}

AddressBook::AddressBook() : m_numbers(0, Hash{(std::uint64_t{std::random_device()()} << 32) ^ std::random_device()()}) {}

std::uint32_t AddressBook::Find(const std::uint8_t* address) const {
  const auto found = m_numbers.find(ToAddress(address));
  return found != m_numbers.end() ? found->second : kNone;
}

std::uint32_t AddressBook::Add(const std::uint8_t* address) {
  const Address key = ToAddress(address);
  auto [found, added] = m_numbers.try_emplace(key, kNone);
  if (added) {
    if (!m_freeNumbers.empty()) {
      found->second = m_freeNumbers.back();
      m_freeNumbers.pop_back();
    } else {
      found->second = static_cast<std::uint32_t>(m_records.size());
      m_records.emplace_back();
    }
    m_records[found->second].address = key;
  }
  ++m_records[found->second].holders;
  return found->second;
}

void AddressBook::Release(std::uint32_t number) {
  Record& record = m_records[number];
  if (--record.holders != 0) return;
  m_numbers.erase(record.address);
  m_freeNumbers.push_back(number);
}

void AddressBook::Clear() {
  m_records.clear();
  m_records.shrink_to_fit();
  m_freeNumbers.clear();
  m_freeNumbers.shrink_to_fit();
  m_numbers.clear();
}
