#pragma once
// Date-times as the program stores them: days since 30 December 1899, 00:00 local
// time, with the time of day as the fraction of a day.
#include <cstdint>

namespace vk {

using TDateTime = double;

// A local broken-down time (month 1..12, day 1..31, millisecond 0..999).
struct LocalTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Days since 30 December 1899; dates before it count negative, and their time of
// day is still added as a positive fraction of that day's distance (-1.25 is
// 29 December 1899, 06:00).
TDateTime EncodeDateTime(const LocalTime& t);
// The inverse, rounded to the millisecond; values before 1 January 0001 or after
// 31 December 9999 give those days' first and last millisecond.
LocalTime DecodeDateTime(TDateTime value);

// Automatic modes of a backup task.
constexpr int32_t kAutoNever = 1;
constexpr int32_t kAutoEveryNDays = 2;
constexpr int32_t kAutoEveryStart = 3;

// Whether a task's automatic mode says a backup is due now: mode 2 once more than
// autoDays days have passed since lastBackup (exactly autoDays is not yet due),
// mode 3 always, every other mode never.
bool IsDue(int32_t autoMode, int32_t autoDays, TDateTime lastBackup, TDateTime now);

}  // namespace vk
