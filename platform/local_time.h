#pragma once

namespace platform {

// The wall-clock time in the local time zone, to the millisecond.
struct LocalTime {
  int year = 0;
  int month = 0;        // 1-12
  int day = 0;          // 1-31
  int dayOfWeek = 0;    // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

LocalTime GetLocalTime();

// Tests pin the wall clock to a time of their choice; GetLocalTime() then
// returns exactly that time until it is changed or released.
void SetTestLocalTime(const LocalTime& time);
void ReleaseTestLocalTime();

}  // namespace platform
