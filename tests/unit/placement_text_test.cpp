#include "core/placement_text.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

TEST(PlacementInt, DecimalHexAndWhatDoesNotParse) {
  EXPECT_EQ(ParsePlacementInt("0"), 0);
  EXPECT_EQ(ParsePlacementInt("-32000"), -32000);
  EXPECT_EQ(ParsePlacementInt("+7"), 7);
  EXPECT_EQ(ParsePlacementInt("2147483647"), INT32_MAX);
  EXPECT_EQ(ParsePlacementInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParsePlacementInt("0x1F"), 31);
  EXPECT_EQ(ParsePlacementInt("0XfF"), 255);
  EXPECT_EQ(ParsePlacementInt("0xFFFFFFFF"), -1);
  EXPECT_EQ(ParsePlacementInt("012"), 12);  // a leading zero is still decimal
  for (const char* bad : {"", "-", "0x", "0x1G", "0x123456789", "2147483648", "-2147483649",
                          " 5", "5 ", "1e3", "x10", "12abc"})
    EXPECT_EQ(ParsePlacementInt(bad), std::nullopt) << bad;
  EXPECT_EQ(PlacementIntOr("zwei", 2), 2);
}

TEST(PlacementInt, FourNumbersWithDefaultsPerWord) {
  const FourInts fallback = {100, 200, 300, 400};
  EXPECT_EQ(ParseFourInts("1,2,3,4", fallback), (FourInts{1, 2, 3, 4}));
  EXPECT_EQ(ParseFourInts("10 20", fallback), (FourInts{10, 20, 300, 400}));
  EXPECT_EQ(ParseFourInts(" -1, ,x,0x10 ,,", fallback), (FourInts{-1, 200, 16, 400}));
  EXPECT_EQ(ParseFourInts("1,2,3,4,5", fallback), (FourInts{1, 2, 3, 4}));
  EXPECT_EQ(ParseFourInts("", fallback), fallback);
  const FourInts values = {-32000, 0, 2147483647, -2147483647 - 1};
  EXPECT_EQ(FormatFourInts(values), "-32000,0,2147483647,-2147483648");
  EXPECT_EQ(ParseFourInts(FormatFourInts(values), fallback), values);
}

TEST(PlacementRect, MovesIntoTheAreaKeepingItsSize) {
  const PlacementRect area = {0, 0, 1280, 1024};
  auto same = [](PlacementRect a, PlacementRect b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  EXPECT_TRUE(same(MoveInto({200, 110, 600, 340}, area), {200, 110, 600, 340}));
  EXPECT_TRUE(same(MoveInto({5000, 3000, 5400, 3230}, area), {880, 794, 1280, 1024}));
  EXPECT_TRUE(same(MoveInto({-32000, -32000, -31600, -31770}, area), {0, 0, 400, 230}));
  EXPECT_TRUE(same(MoveInto({-10, 50, 1990, 150}, area), {0, 50, 2000, 150}));
}

}  // namespace
}  // namespace vk
