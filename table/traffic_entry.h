#pragma once

#include <cstdint>
#include <cstring>

#include "packet/ip_address.h"

// The 5-tuple of a packet in the direction it travelled. Addresses and ports
// are kept in network byte order exactly as carried in the packet. An IPv6
// connection's addresses are the numbers the table's address book gives
// them, and `ipv6` is 1: every key stays 16 bytes. An IPv4 key's last three
// bytes are zero, so that two keys compare as one block of 16 bytes.
struct ConnectionKey {
  std::uint32_t sourceAddress = 0;
  std::uint32_t destinationAddress = 0;
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  std::uint8_t protocol = 0;
  std::uint8_t ipv6 = 0;
  std::uint8_t zero[2] = {0, 0};
};
static_assert(sizeof(ConnectionKey) == 16);

inline bool operator==(const ConnectionKey& a, const ConnectionKey& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A connection as a row shows it and its copy commands copy it: both
// addresses in full, whatever the family. A row keeps one: it outlives the
// connection's entry.
struct ConnectionEndpoints {
  IpAddress source;
  IpAddress destination;
  std::uint16_t sourcePort = 0;       // network byte order
  std::uint16_t destinationPort = 0;  // network byte order
  std::uint8_t protocol = 0;

  friend bool operator==(const ConnectionEndpoints&, const ConnectionEndpoints&) = default;
};

// The endpoints of an IPv4 key, which holds its addresses itself (an IPv6
// key's are in the table's address book: CTrafficList::EndpointsOf).
inline ConnectionEndpoints Ipv4EndpointsOf(const ConnectionKey& key) {
  ConnectionEndpoints endpoints;
  endpoints.source = IpAddress::Ipv4(key.sourceAddress);
  endpoints.destination = IpAddress::Ipv4(key.destinationAddress);
  endpoints.sourcePort = key.sourcePort;
  endpoints.destinationPort = key.destinationPort;
  endpoints.protocol = key.protocol;
  return endpoints;
}

// One connection of the table, owned by the table's pool; ticks are
// millisecond tick counts. One cache line each: a packet that updates its
// entry then costs one trip to memory, never two.
struct alignas(64) TrafficEntry {
  ConnectionKey key;
  std::uint32_t lastSeen = 0;
  std::uint32_t firstSeen = 0;
  std::uint64_t bytes = 0;
  std::uint64_t bytesAtLastFullPass = 0;
  std::uint64_t packets = 0;
  // Index of the list row that shows the entry; negative: not shown yet.
  std::int32_t row = -1;
  // Position of the entry in the table's array, kept current by the table
  // so that a lookup through the index can answer with the position.
  std::uint32_t position = 0;
  // The entry's name in the table's pool, where it lives.
  std::uint32_t id = 0;
  // Set when the row was inserted with the number of an address whose
  // host name was still being looked up; the refresh pass puts the name in
  // once it arrives.
  bool awaitingSourceName = false;
  bool awaitingDestinationName = false;
  // Set while the row shows no owner and one may still be found: the pass
  // asks again whenever the owners were looked at anew.
  bool awaitingOwner = false;
  // The connection's source is one of this machine's own addresses: its
  // packets count as sent. Decided once, when the entry is made, in the
  // byte the three flags above leave free.
  bool sent = false;
};
static_assert(sizeof(TrafficEntry) == 64);
