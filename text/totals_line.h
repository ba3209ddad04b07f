#pragma once

#include <cstdint>

// The status bar's line of capture totals:
// "All packets: %u, Data: %s, Total traffic: %s", the amounts in `units`.
inline constexpr int kTotalsLineSize = 304;  // the longest line has 110 characters

void FormatTotalsLine(char (&line)[kTotalsLineSize], std::uint64_t packets, std::uint64_t dataBytes,
                      std::uint64_t totalBytes, int units);
