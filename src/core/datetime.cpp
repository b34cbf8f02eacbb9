#include "core/datetime.h"

#include <cmath>
#include <cstdint>

namespace vk {
namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days since 1 March of year 0 in the proleptic Gregorian calendar; the usual
// shift of February to the end of the year keeps leap days out of the way.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void CivilFromDays(int64_t z, LocalTime& t) {
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (m <= 2));
  t.month = m;
  t.day = d;
}

const int64_t kEpoch = DaysFromCivil(1899, 12, 30);

}  // namespace

TDateTime EncodeDateTime(const LocalTime& t) {
  const double days = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) - kEpoch);
  const int64_t ms =
      ((static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
  const double time = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return days >= 0 ? days + time : days - time;
}

LocalTime DecodeDateTime(TDateTime value) {
  // A task file may hold any finite number; beyond the calendar's years 1..9999
  // the day count would not fit an integer. Before 1899 a day's time counts below
  // its number: 1 January 0001 runs from -693593.0 down to just above -693594.0.
  constexpr double kFirst = -693593.0;
  constexpr double kBeforeFirst = -693594.0;                     // 31 December of year 0
  constexpr double kLast = 2958465.0 + 86399999.0 / 86400000.0;  // 31 December 9999, 23:59:59.999
  if (!(value > kBeforeFirst)) value = std::isnan(value) ? 0 : kFirst;
  if (value > kLast) value = kLast;
  double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {  // rounded up into the next day, which is one number up either side
    ms -= kMsPerDay;
    whole += 1;
  }
  LocalTime t;
  CivilFromDays(static_cast<int64_t>(whole) + kEpoch, t);
  t.millisecond = static_cast<int>(ms % 1000);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.hour = static_cast<int>(ms / 3600000);
  return t;
}

bool IsDue(int32_t autoMode, int32_t autoDays, TDateTime lastBackup, TDateTime now) {
  switch (autoMode) {
    case kAutoEveryNDays: return now > lastBackup + autoDays;
    case kAutoEveryStart: return true;
    default: return false;
  }
}

}  // namespace vk
