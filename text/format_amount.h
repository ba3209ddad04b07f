#pragma once

#include <cstdint>

// Unit choices of the "units" setting. Any other value formats as bytes.
enum AmountUnits : int {
  kUnitsBytes = 0,
  kUnitsKilobytes = 1,
  kUnitsMegabytes = 2,
  kUnitsDynamic = 3,
};

// Formats a byte count (rate == 0) or a byte rate (rate != 0) in `units`.
// With `withUnit` the unit word is appended; the dynamic unit always appends
// it. Kilobytes and megabytes have two decimals, an exact tie in the third
// decimal rounding away from zero.
//
// The text lives in one of three buffers of the calling thread, used in
// turn: a result stays unchanged until the same thread has made three more
// calls. Threads never share these buffers.
const char* FormatAmount(std::uint64_t value, int withUnit, int rate, int units);
