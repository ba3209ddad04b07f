#pragma once

#include <cstdint>

// One second of the capture's traffic, in bytes, split by who sent it:
// this machine, or anyone else (to this machine, or between other hosts
// that a promiscuous capture sees).
struct RateSample {
  std::uint64_t received = 0;
  std::uint64_t sent = 0;

  std::uint64_t Total() const { return received + sent; }
};
