#include "core/float_pages_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace vk {
namespace {

TEST(FloatPagesLayout, GripStripAndItsHandleEnd) {
  EXPECT_EQ(GripStrip(GripEdge::Left, 100, 80), (PixelRect{0, 0, 7, 80}));
  EXPECT_EQ(GripStrip(GripEdge::Right, 100, 80), (PixelRect{93, 0, 100, 80}));
  EXPECT_EQ(GripStrip(GripEdge::Top, 100, 80), (PixelRect{0, 0, 100, 7}));
  EXPECT_EQ(GripStrip(GripEdge::Bottom, 100, 80), (PixelRect{0, 73, 100, 80}));
  // The 18-pixel reach from the end with the marks, swept across its boundary.
  EXPECT_TRUE(OnGripHandle(GripEdge::Left, 100, 80, 3, 18));
  EXPECT_FALSE(OnGripHandle(GripEdge::Left, 100, 80, 3, 19));
  EXPECT_FALSE(OnGripHandle(GripEdge::Left, 100, 80, 7, 5));  // beside the strip
  EXPECT_TRUE(OnGripHandle(GripEdge::Right, 100, 80, 95, 62));
  EXPECT_FALSE(OnGripHandle(GripEdge::Right, 100, 80, 95, 61));
  EXPECT_TRUE(OnGripHandle(GripEdge::Top, 100, 80, 82, 2));
  EXPECT_FALSE(OnGripHandle(GripEdge::Top, 100, 80, 81, 2));
  EXPECT_TRUE(OnGripHandle(GripEdge::Bottom, 100, 80, 18, 75));
  EXPECT_FALSE(OnGripHandle(GripEdge::Bottom, 100, 80, 19, 75));
  EXPECT_EQ(AreaBesideGrip(GripEdge::Right, 100, 80), (PixelRect{0, 0, 93, 80}));
  EXPECT_EQ(AreaBesideGrip(GripEdge::Top, 100, 80), (PixelRect{0, 7, 100, 80}));
}

TEST(FloatPagesLayout, DockedPagesSortByKeyAndEqualKeysKeepTheirOrder) {
  // Page 1 of four torn off and docked again: appended, then back in its place.
  EXPECT_EQ(DockedPageOrder({0, 2, 3, 1}), (std::vector<int>{0, 3, 1, 2}));
  EXPECT_EQ(DockedPageOrder({-1, -1, -1, -1}), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(DockedPageOrder({5, -1, 5, 0}), (std::vector<int>{1, 3, 0, 2}));
  EXPECT_TRUE(DockedPageOrder({}).empty());
}

TEST(FloatPagesLayout, AdjacentPageWrapsAndSkipsRefusedPages) {
  auto all = [](int) { return true; };
  auto notTwo = [](int i) { return i != 2; };
  EXPECT_EQ(AdjacentPageIndex(4, 1, true, all), 2);
  EXPECT_EQ(AdjacentPageIndex(4, 1, true, notTwo), 3);
  EXPECT_EQ(AdjacentPageIndex(4, 3, true, all), 0);
  EXPECT_EQ(AdjacentPageIndex(4, 0, false, all), 3);
  EXPECT_EQ(AdjacentPageIndex(4, -1, true, all), 0);   // no current page: the first
  EXPECT_EQ(AdjacentPageIndex(4, -1, false, all), 3);  // backward: the last
  EXPECT_EQ(AdjacentPageIndex(4, 2, true, [](int i) { return i == 2; }), 2);  // a full round
  EXPECT_EQ(AdjacentPageIndex(4, 2, true, [](int) { return false; }), -1);
  EXPECT_EQ(AdjacentPageIndex(0, -1, true, all), -1);
}

TEST(FloatPagesLayout, QuarterTurnsMapEveryPixelInsideASquare) {
  // Worked out by hand for a 4 x 4 bitmap: 90 degrees takes target (x, y) from
  // source (3 - y, x), 270 degrees from (y, 3 - x); 0 degrees is the identity.
  EXPECT_EQ(RotatedSource(0, 0, 4, 4, 90).x, 3);
  EXPECT_EQ(RotatedSource(0, 0, 4, 4, 90).y, 0);
  EXPECT_EQ(RotatedSource(3, 1, 4, 4, 90).x, 2);
  EXPECT_EQ(RotatedSource(3, 1, 4, 4, 90).y, 3);
  EXPECT_EQ(RotatedSource(0, 0, 4, 4, 270).x, 0);
  EXPECT_EQ(RotatedSource(0, 0, 4, 4, 270).y, 3);
  for (int degrees : {0, 90, 270})
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        const SourcePixel p = RotatedSource(x, y, 4, 4, degrees);
        const int ex = degrees == 0 ? x : degrees == 90 ? 3 - y : y;
        const int ey = degrees == 0 ? y : degrees == 90 ? x : 3 - x;
        EXPECT_EQ(p.x, ex) << degrees << " " << x << "," << y;
        EXPECT_EQ(p.y, ey) << degrees << " " << x << "," << y;
      }
}

}  // namespace
}  // namespace vk
