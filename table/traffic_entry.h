#pragma once

#include <cstdint>
#include <cstring>

// The 5-tuple of a packet in the direction it travelled. Addresses and ports
// are kept in network byte order exactly as carried in the packet. The three
// bytes after the protocol are always zero so that two keys compare as one
// block of 16 bytes.
struct ConnectionKey {
  std::uint32_t sourceAddress = 0;
  std::uint32_t destinationAddress = 0;
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  std::uint8_t protocol = 0;
  std::uint8_t zero[3] = {0, 0, 0};
};
static_assert(sizeof(ConnectionKey) == 16);

inline bool operator==(const ConnectionKey& a, const ConnectionKey& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// One connection of the table, owned by the table's pool; counters wrap modulo
// 2^32 and ticks are millisecond tick counts. One cache line each: a packet
// that updates its entry then costs one trip to memory, never two.
struct alignas(64) TrafficEntry {
  ConnectionKey key;
  std::uint32_t lastSeen = 0;
  std::uint32_t firstSeen = 0;
  std::uint32_t bytes = 0;
  std::uint32_t bytesAtLastFullPass = 0;
  std::uint32_t packets = 0;
  // Index of the list row that shows the entry; negative: not shown yet.
  std::int32_t row = -1;
  // Position of the entry in the table's array, kept current by the table
  // so that a lookup through the index can answer with the position.
  std::uint32_t position = 0;
  // The entry's name in the table's pool, where it lives.
  std::uint32_t id = 0;
  // Set when the row was inserted with the dotted text of an address whose
  // host name was still being looked up; the refresh pass puts the name in
  // once it arrives.
  bool awaitingSourceName = false;
  bool awaitingDestinationName = false;
};
