#include "core/datetime.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

LocalTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  LocalTime t;
  t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
  t.millisecond = ms;
  return t;
}

void ExpectSame(const LocalTime& a, const LocalTime& b) {
  EXPECT_EQ(a.year, b.year);
  EXPECT_EQ(a.month, b.month);
  EXPECT_EQ(a.day, b.day);
  EXPECT_EQ(a.hour, b.hour);
  EXPECT_EQ(a.minute, b.minute);
  EXPECT_EQ(a.second, b.second);
  EXPECT_EQ(a.millisecond, b.millisecond);
}

TEST(DateTime, KnownDayCounts) {
  EXPECT_EQ(EncodeDateTime(At(1899, 12, 30)), 0);
  EXPECT_EQ(EncodeDateTime(At(1899, 12, 31)), 1);
  EXPECT_EQ(EncodeDateTime(At(1900, 1, 1)), 2);
  // 1900 is no leap year here (unlike some spreadsheets): 1 March is day 61.
  EXPECT_EQ(EncodeDateTime(At(1900, 3, 1)), 61);
  EXPECT_EQ(EncodeDateTime(At(2000, 1, 1)), 36526);
  EXPECT_EQ(EncodeDateTime(At(2000, 3, 1)), 36586);  // 2000 is a leap year
  EXPECT_EQ(EncodeDateTime(At(2024, 2, 29, 12)), 45351.5);
  EXPECT_NEAR(EncodeDateTime(At(1998, 6, 21, 14, 37, 12)), 35967.6091666667, 1e-10);
  EXPECT_EQ(EncodeDateTime(At(1899, 12, 29, 6)), -1.25);
}

TEST(DateTime, DecodesWhatItEncodes) {
  const LocalTime cases[] = {
      At(1899, 12, 30),           At(1998, 6, 21, 14, 37, 12), At(2000, 2, 29, 23, 59, 59, 999),
      At(2038, 1, 19, 3, 14, 8),  At(1999, 12, 31, 0, 0, 0, 1), At(1899, 12, 29, 6),
      At(1800, 1, 1, 12, 30),     At(9999, 12, 31, 23, 59, 59, 999),
  };
  for (const LocalTime& t : cases) ExpectSame(DecodeDateTime(EncodeDateTime(t)), t);
}

TEST(DateTime, DecodeRoundsToTheMillisecond) {
  // Just below midnight rounds into the next day, not to 24:00.
  ExpectSame(DecodeDateTime(36526.0 - 1e-10), At(2000, 1, 1));
  ExpectSame(DecodeDateTime(36526.0 + 0.4 / 86400000), At(2000, 1, 1));
  ExpectSame(DecodeDateTime(36526.0 + 0.6 / 86400000), At(2000, 1, 1, 0, 0, 0, 1));
}

TEST(DueTest, EveryNDaysAtTheBoundary) {
  const double last = EncodeDateTime(At(2024, 5, 10, 14, 37, 12));
  const double exactlySeven = EncodeDateTime(At(2024, 5, 17, 14, 37, 12));
  const double oneSecondLater = EncodeDateTime(At(2024, 5, 17, 14, 37, 13));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 7, last, exactlySeven));
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 7, last, oneSecondLater));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 7, last, EncodeDateTime(At(2024, 5, 17, 14, 37, 11))));
  // Across a month end and a leap day.
  const double feb = EncodeDateTime(At(2024, 2, 25, 8));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 5, feb, EncodeDateTime(At(2024, 3, 1, 8))));
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 5, feb, EncodeDateTime(At(2024, 3, 1, 8, 0, 1))));
}

TEST(DueTest, NeverRunTasksAndOtherModes) {
  const double now = EncodeDateTime(At(2024, 5, 17, 9));
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 7, 0, now));       // never backed up yet
  EXPECT_TRUE(IsDue(kAutoEveryNDays, 0, now - 1e-6, now));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 0, now, now));
  EXPECT_FALSE(IsDue(kAutoEveryNDays, 7, now + 1, now));  // a backup dated in the future
  EXPECT_TRUE(IsDue(kAutoEveryStart, 7, now, now));
  EXPECT_FALSE(IsDue(kAutoNever, 0, 0, now));
  for (int mode : {0, 4, -1, 17}) EXPECT_FALSE(IsDue(mode, 0, 0, now)) << mode;
}

}  // namespace
}  // namespace vk
