#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Milliseconds since 1970-01-01 UTC, as the system clock says now.
std::int64_t WallClockMs();

// The moment in ISO 8601, local time with its offset from UTC and
// milliseconds: "2026-12-11T10:30:05.123+01:00". A reader in another time
// zone still knows the moment, and a person reads the time of the clock
// on the wall.
std::string Iso8601Time(std::int64_t epochMs);

}  // namespace platform
