#include "table/address_book.h"

#include <cstring>

namespace {

AddressBook::Address ToAddress(const std::uint8_t* bytes) {
  AddressBook::Address address;
  std::memcpy(address.data(), bytes, address.size());
  return address;
}

}  // namespace

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
