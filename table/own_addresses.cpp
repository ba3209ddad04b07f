#include "table/own_addresses.h"

#include <algorithm>
#include <utility>

OwnAddresses::OwnAddresses(std::vector<IpAddress> addresses) : m_addresses(std::move(addresses)) {
  std::sort(m_addresses.begin(), m_addresses.end());
  m_addresses.erase(std::unique(m_addresses.begin(), m_addresses.end()), m_addresses.end());
}

bool OwnAddresses::Contains(const IpAddress& address) const {
  return std::binary_search(m_addresses.begin(), m_addresses.end(), address);
}
