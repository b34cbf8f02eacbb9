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
