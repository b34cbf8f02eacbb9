#pragma once
// The arithmetic of the page control with floating sheets: the grip strip by which a
// sheet is torn off, the order of the pages after a dock, the next page for
// Ctrl+Tab, and the pixel mapping that turns a tab text on its side.
#include <functional>
#include <vector>

namespace vk {

enum class GripEdge { Left, Right, Top, Bottom };

struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const PixelRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

inline constexpr int kGripWidth = 7;
// A drag starts only within this distance of the strip's end with the handle marks,
// and only once the mouse has moved more than kDragSlop pixels.
inline constexpr int kGripHandleReach = 18;
inline constexpr int kDragSlop = 3;

// The 7-pixel strip along the edge of a sheet of the given size.
PixelRect GripStrip(GripEdge edge, int width, int height);
// True when a press at (x, y) may start tearing the sheet off.
bool OnGripHandle(GripEdge edge, int width, int height, int x, int y);
// The sheet's area without the strip.
PixelRect AreaBesideGrip(GripEdge edge, int width, int height);

// The page order after a dock, as indexes into `keys` (the pages' StaticPageIndex in
// their present order): sorted by key, pages with equal keys keeping their order, so a
// docked page with no key of its own stays last and the others do not move.
std::vector<int> DockedPageOrder(const std::vector<int>& keys);

// The next index after `current` (-1: none) in the given direction, wrapping around,
// whose page `accepts`; -1 after a full round or for no pages. With no current page
// going forward starts from the last position, going backward from the first.
int AdjacentPageIndex(int count, int current, bool forward,
                      const std::function<bool(int)>& accepts);

// For a square bitmap turned by `degrees`: the source pixel that target pixel
// (x, y) shows, in a bitmap of the given size. May lie outside the bitmap.
struct SourcePixel {
  int x, y;
};
SourcePixel RotatedSource(int x, int y, int width, int height, int degrees);

}  // namespace vk
