#include "core/datetime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace vk {
namespace {

LocalTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  LocalTime t;
  t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
  t.millisecond = ms;
  return t;
}

TEST(DateTime, KnownDayCounts) {
  EXPECT_EQ(EncodeDateTime(At(1899, 12, 30)), 0);
  EXPECT_EQ(EncodeDateTime(At(1900, 3, 1)), 61);  // 1900 is no leap year
  EXPECT_EQ(EncodeDateTime(At(2000, 3, 1)), 36586);  // 2000 is one
  EXPECT_EQ(EncodeDateTime(At(2024, 2, 29, 12)), 45351.5);
  EXPECT_NEAR(EncodeDateTime(At(1998, 6, 21, 14, 37, 12)), 35967.6091666667, 1e-10);
  EXPECT_EQ(EncodeDateTime(At(1899, 12, 29, 6)), -1.25);
}

TEST(DateTime, DecodesWhatItEncodesToTheMillisecond) {
  for (const LocalTime& t : {At(1998, 6, 21, 14, 37, 12), At(2000, 2, 29, 23, 59, 59, 999),
                             At(1899, 12, 29, 6), At(1800, 1, 1, 12, 30)}) {
    const LocalTime back = DecodeDateTime(EncodeDateTime(t));
    EXPECT_EQ(EncodeDateTime(back), EncodeDateTime(t));
    EXPECT_EQ(back.millisecond, t.millisecond);
  }
  // Just below midnight rounds into the next day, not to 24:00.
  const LocalTime midnight = DecodeDateTime(36526.0 - 1e-10);
  EXPECT_EQ(midnight.day, 1);
  EXPECT_EQ(midnight.hour, 0);
  // Any number a task file holds decodes, held to the years 1..9999.
  const LocalTime late = DecodeDateTime(1.7976931348623157e308);
  EXPECT_EQ(EncodeDateTime(late), EncodeDateTime(At(9999, 12, 31, 23, 59, 59, 999)));
  const LocalTime early = DecodeDateTime(-1e300);
  EXPECT_EQ(EncodeDateTime(early), EncodeDateTime(At(1, 1, 1)));
}

// Every day of the years 1 to 9999 in order, each at times that reach both ends of the
// day (a day before 1899 counts its time below its number).
TEST(DateTime, EveryDayOfTheCalendarRoundTrips) {
  LocalTime previous = At(0, 12, 31);
  int days = 0;
  for (int64_t n = -693593; n <= 2958465; ++n, ++days) {
    const LocalTime day = DecodeDateTime(static_cast<double>(n));
    const bool next = (day.year == previous.year && day.month == previous.month &&
                       day.day == previous.day + 1) ||
                      (day.day == 1 && ((day.year == previous.year && day.month == previous.month + 1) ||
                                        (day.year == previous.year + 1 && day.month == 1)));
    if (!next) FAIL() << "day " << n << " follows " << previous.year << "-" << previous.month;
    previous = day;
    for (int ms : {0, 44338, 43200000, 86399999, static_cast<int>((n * 1000003) % 86400000 + 86400000) % 86400000}) {
      LocalTime t = day;
      t.hour = ms / 3600000, t.minute = ms / 60000 % 60, t.second = ms / 1000 % 60;
      t.millisecond = ms % 1000;
      const LocalTime back = DecodeDateTime(EncodeDateTime(t));
      if (back.year != t.year || back.month != t.month || back.day != t.day ||
          back.hour != t.hour || back.minute != t.minute || back.second != t.second ||
          back.millisecond != t.millisecond)
        FAIL() << t.year << "-" << t.month << "-" << t.day << " at " << ms << " ms became "
               << back.year << "-" << back.month << "-" << back.day << " at "
               << ((back.hour * 60 + back.minute) * 60 + back.second) * 1000 + back.millisecond;
    }
  }
  EXPECT_EQ(days, 3652059);
  EXPECT_EQ(previous.year, 9999);
  EXPECT_EQ(previous.day, 31);
}

// Rounding up to the next millisecond at the end of a day moves to the following
// day, which is the next number up on both sides of 1899.
TEST(DateTime, RoundingIntoTheNextDay) {
  for (const auto& [value, next] :
       {std::pair{-1.9999999999, At(1899, 12, 30)}, std::pair{-693593.9999999999, At(1, 1, 2)},
        std::pair{45351.9999999999, At(2024, 3, 1)}, std::pair{-693594.5, At(1, 1, 1)}})
    EXPECT_EQ(EncodeDateTime(DecodeDateTime(value)), EncodeDateTime(next)) << value;
}

TEST(DueTest, EveryNDaysAtTheBoundary) {
  const double last = EncodeDateTime(At(2024, 5, 10, 14, 37, 12));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 7, last, EncodeDateTime(At(2024, 5, 17, 14, 37, 12))));
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 7, last, EncodeDateTime(At(2024, 5, 17, 14, 37, 13))));
  // Across a month end and a leap day.
  const double feb = EncodeDateTime(At(2024, 2, 25, 8));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 5, feb, EncodeDateTime(At(2024, 3, 1, 8))));
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 5, feb, EncodeDateTime(At(2024, 3, 1, 8, 0, 1))));
}

TEST(DueTest, OtherModesAndNeverBackedUp) {
  const double now = EncodeDateTime(At(2024, 5, 17, 9));
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 7, 0, now));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 7, now + 1, now));  // dated in the future
  EXPECT_TRUE(IsDue(kAutoEveryStart, 7, now, now));
  for (int mode : {kAutoNever, 0, 4, -1}) EXPECT_FALSE(IsDue(mode, 0, 0, now)) << mode;
}

}  // namespace
}  // namespace vk
