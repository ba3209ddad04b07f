#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, as an unsigned 32-bit count that
// wraps about every 49.7 days. It advances in steps of a few milliseconds
// (the system's coarse clock), as the ticks of a desktop system do. Every difference of two ticks is taken
// modulo 2^32 by the callers.
std::uint32_t TickCount();

// Tests pin the clock to a value of their choice; TickCount() then returns
// exactly that value until it is changed or released.
void SetTestTickCount(std::uint32_t ticks);
void ReleaseTestTickCount();

}  // namespace platform
