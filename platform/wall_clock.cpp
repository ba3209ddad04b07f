#include "platform/wall_clock.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace platform {

std::int64_t WallClockMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string Iso8601Time(std::int64_t epochMs) {
  // Floor division: a moment before 1970 still has its milliseconds
  // counted forward from its second.
  std::int64_t seconds = epochMs / 1000;
  std::int64_t milliseconds = epochMs % 1000;
  if (milliseconds < 0) {
    milliseconds += 1000;
    --seconds;
  }
  const auto whole = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (localtime_r(&whole, &parts) == nullptr) return {};
  const long offsetMinutes = parts.tm_gmtoff / 60;
  const long offset = std::labs(offsetMinutes);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(milliseconds), offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

}  // namespace platform
