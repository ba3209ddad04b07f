#pragma once

#include <cstddef>

namespace resolve {

// How much host names may cost. The addresses on the network are chosen by
// whoever sends to it: a flood of made-up sources must turn neither into a
// flood of queries to the name server nor into memory without end. An
// address past a limit shows its number, and is not looked up. The limits
// hold for IPv4 and IPv6 addresses together.
struct HostNameLimits {
  // Lookups at once.
  unsigned threads = 4;
  // Addresses waiting for their lookup.
  std::size_t waiting = 1024;
  // Queries a second, kept up for as long as addresses wait...
  double queriesPerSecond = 20;
  // ...after up to this many at once when the resolver was quiet.
  double burst = 50;
  // Addresses remembered, with their names or numbers.
  std::size_t addresses = std::size_t{1} << 20;
};

}  // namespace resolve
