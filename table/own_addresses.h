#pragma once

#include <vector>

#include "packet/ip_address.h"

// This machine's own addresses on the captured adapter: a packet from one
// of them was sent by this machine, every other one it received. Asked once
// per new connection (and for each packet a pause keeps out of the table),
// never for a packet of a known connection, so a sorted list is quick
// enough for the few addresses an adapter has and the many of "any".
class OwnAddresses {
 public:
  OwnAddresses() = default;
  explicit OwnAddresses(std::vector<IpAddress> addresses);

  bool Contains(const IpAddress& address) const;
  bool Empty() const { return m_addresses.empty(); }

 private:
  std::vector<IpAddress> m_addresses;  // sorted, each once
};
