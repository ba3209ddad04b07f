#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "packet/ip_address.h"

// The IPv6 addresses of the table's connections, each under a 32-bit
// number, so that an IPv6 connection's key is as small as an IPv4 one's:
// the IPv4 path keeps its 16-byte keys and 64-byte entries, and IPv6 pays
// one lookup per address instead. An address is kept while some entry
// holds it (Add and Release count the holders) and its number is given to
// another address only once it is gone.
class AddressBook {
 public:
  using Address = std::array<std::uint8_t, 16>;
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // The address's number, kNone when no entry holds it.
  std::uint32_t Find(const std::uint8_t* address) const;
  // The address's number, kept for one more holder.
  std::uint32_t Add(const std::uint8_t* address);
  // One holder of the number lets go.
  void Release(std::uint32_t number);
  const Address& Get(std::uint32_t number) const { return m_records[number].address; }
  void Clear();
  std::size_t Size() const { return m_numbers.size(); }

 private:
  struct Record {
    Address address{};
    std::uint32_t holders = 0;
  };
  std::vector<Record> m_records;  // by number
  std::vector<std::uint32_t> m_freeNumbers;
  std::unordered_map<Address, std::uint32_t, SeededAddressHash> m_numbers;
};
