#include "tasks/task_images.h"

#include <cmath>
#include <vector>

#include "win/handles.h"

namespace vk::tasks {
namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);
constexpr COLORREF kFolderFace = RGB(255, 214, 66);
constexpr COLORREF kFolderBack = RGB(222, 170, 30);
constexpr COLORREF kFolderLine = RGB(128, 88, 0);
constexpr COLORREF kSteel = RGB(150, 150, 150);
constexpr COLORREF kSteelDark = RGB(80, 80, 80);

// A bitmap of the screen's format being drawn on; Finish hands it over.
class Canvas {
 public:
  Canvas(int width, int height, COLORREF background) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    Box(0, 0, width, height, background);
  }
  ~Canvas() {
    if (old_) SelectObject(dc_, old_);
    DeleteDC(dc_);
    if (bitmap_) DeleteObject(bitmap_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HBITMAP Finish() {
    SelectObject(dc_, old_);  // a bitmap still selected into a DC cannot be used elsewhere
    old_ = nullptr;
    HBITMAP done = bitmap_;
    bitmap_ = nullptr;
    return done;
  }

  // A filled rectangle without outline, right and bottom exclusive.
  void Box(int left, int top, int right, int bottom, COLORREF color) {
    RECT r = {left, top, right, bottom};
    win::ScopedGdiObject brush(CreateSolidBrush(color));
    FillRect(dc_, &r, static_cast<HBRUSH>(brush.Get()));
  }
  void Line(int x1, int y1, int x2, int y2, COLORREF color, int width = 1) {
    win::ScopedGdiObject pen(CreatePen(PS_SOLID, width, color));
    win::SelectGuard keep(dc_, pen.Get());
    MoveToEx(dc_, x1, y1, nullptr);
    LineTo(dc_, x2, y2);
    SetPixel(dc_, x2, y2, color);  // LineTo leaves out the last point
  }
  void Polygon(const std::vector<POINT>& points, COLORREF fill, COLORREF outline) {
    win::ScopedGdiObject pen(CreatePen(PS_SOLID, 1, outline));
    win::ScopedGdiObject brush(CreateSolidBrush(fill));
    win::SelectGuard keepPen(dc_, pen.Get());
    win::SelectGuard keepBrush(dc_, brush.Get());
    ::Polygon(dc_, points.data(), static_cast<int>(points.size()));
  }
  void Ellipse(int left, int top, int right, int bottom, COLORREF fill, COLORREF outline) {
    win::ScopedGdiObject pen(CreatePen(PS_SOLID, 1, outline));
    win::ScopedGdiObject brush(CreateSolidBrush(fill));
    win::SelectGuard keepPen(dc_, pen.Get());
    win::SelectGuard keepBrush(dc_, brush.Get());
    ::Ellipse(dc_, left, top, right, bottom);
  }
  void Arc(int left, int top, int right, int bottom, POINT from, POINT to, COLORREF color,
           int width) {
    win::ScopedGdiObject pen(CreatePen(PS_SOLID, width, color));
    win::SelectGuard keep(dc_, pen.Get());
    ::Arc(dc_, left, top, right, bottom, from.x, from.y, to.x, to.y);
  }

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// A folder whose body spans [left, right) x [top, bottom); its tab sits above it.
void DrawFolder(Canvas& c, int left, int top, int right, int bottom) {
  const int tab = (right - left) / 2;
  c.Polygon({{left, top}, {left + 1, top - 2}, {left + tab - 1, top - 2}, {left + tab, top},
             {left, top}},
            kFolderBack, kFolderLine);
  c.Polygon({{left, top}, {right - 1, top}, {right - 1, bottom - 1}, {left, bottom - 1}},
            kFolderFace, kFolderLine);
  c.Line(left + 1, top + 1, right - 2, top + 1, RGB(255, 240, 170));
}

HBITMAP Folder16() {
  Canvas c(16, 16, kTransparent);
  DrawFolder(c, 1, 5, 15, 14);
  return c.Finish();
}

HBITMAP ClampedFolder16() {
  Canvas c(16, 16, kTransparent);
  DrawFolder(c, 3, 6, 13, 14);
  // The clamp: a bar above, two jaws that press on the folder's sides.
  c.Box(1, 1, 15, 3, kSteel);
  c.Line(1, 1, 14, 1, kSteelDark);
  c.Box(1, 1, 3, 12, kSteel);
  c.Box(13, 1, 15, 12, kSteel);
  c.Line(1, 1, 1, 11, kSteelDark);
  c.Line(14, 1, 14, 11, kSteelDark);
  c.Box(2, 8, 4, 11, kSteelDark);
  c.Box(12, 8, 14, 11, kSteelDark);
  return c.Finish();
}

HBITMAP CircularArrows16() {
  Canvas c(16, 16, kTransparent);
  const COLORREF red = RGB(210, 30, 30), blue = RGB(30, 60, 210);
  // The red arrow runs over the top from left to right, the blue one back below.
  c.Arc(2, 2, 14, 14, {14, 7}, {2, 7}, red, 2);
  c.Polygon({{10, 5}, {15, 5}, {13, 9}}, red, red);
  c.Arc(2, 2, 14, 14, {2, 9}, {14, 9}, blue, 2);
  c.Polygon({{1, 7}, {6, 11}, {1, 11}}, blue, blue);
  return c.Finish();
}

HBITMAP CheckBox13(bool ticked) {
  Canvas c(13, 13, GetSysColor(COLOR_WINDOW));
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF dark = GetSysColor(COLOR_3DDKSHADOW), face = GetSysColor(COLOR_BTNFACE);
  c.Line(0, 0, 11, 0, shadow);
  c.Line(0, 0, 0, 11, shadow);
  c.Line(12, 0, 12, 12, light);
  c.Line(0, 12, 12, 12, light);
  c.Line(1, 1, 10, 1, dark);
  c.Line(1, 1, 1, 10, dark);
  c.Line(11, 1, 11, 11, face);
  c.Line(1, 11, 11, 11, face);
  if (ticked) {
    const COLORREF ink = GetSysColor(COLOR_WINDOWTEXT);
    for (int dy = 0; dy < 3; ++dy) {
      c.Line(3, 5 + dy, 5, 7 + dy, ink);
      c.Line(5, 7 + dy, 9, 3 + dy, ink);
    }
  }
  return c.Finish();
}

HIMAGELIST MakeList(int size, const std::vector<HBITMAP>& images) {
  HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK,
                                     static_cast<int>(images.size()), 0);
  for (HBITMAP image : images) {
    ImageList_AddMasked(list, image, kTransparent);
    DeleteObject(image);
  }
  return list;
}

}  // namespace

HIMAGELIST FolderImages() {
  static HIMAGELIST list = MakeList(16, {Folder16(), ClampedFolder16(), CircularArrows16()});
  return list;
}

HIMAGELIST CheckBoxImages() {
  static HIMAGELIST list = MakeList(13, {CheckBox13(false), CheckBox13(false), CheckBox13(true)});
  return list;
}

HBITMAP TaskListPicture() {
  static HBITMAP picture = [] {
    Canvas c(32, 32, GetSysColor(COLOR_BTNFACE));
    c.Polygon({{4, 3}, {27, 3}, {27, 30}, {4, 30}}, RGB(170, 110, 50), RGB(100, 60, 20));
    c.Box(7, 7, 25, 28, RGB(255, 255, 255));
    c.Box(11, 1, 21, 6, kSteel);
    c.Line(11, 1, 20, 1, kSteelDark);
    c.Line(11, 5, 20, 5, kSteelDark);
    const COLORREF green = RGB(20, 150, 40);
    for (int row = 0; row < 3; ++row) {
      const int y = 11 + row * 6;
      c.Box(9, y, 13, y + 4, RGB(230, 230, 230));
      c.Line(9, y + 1, 11, y + 3, green);
      c.Line(11, y + 3, 14, y - 1, green);
      c.Line(15, y + 2, 23, y + 2, RGB(60, 60, 60));
    }
    return c.Finish();
  }();
  return picture;
}

HBITMAP ArchiveButtonPicture() {
  static HBITMAP picture = [] {
    Canvas c(12, 11, kTransparent);  // the bottom row stays clear: its colour is see-through
    DrawFolder(c, 0, 3, 12, 10);
    return c.Finish();
  }();
  return picture;
}

HBITMAP SettingsPicture() {
  static HBITMAP picture = [] {
    Canvas c(42, 42, GetSysColor(COLOR_BTNFACE));
    DrawFolder(c, 2, 10, 34, 34);
    // A cog: sixteen corners alternating between the tooth tips and the gaps.
    const double cx = 29.5, cy = 29.5, pi = 3.14159265358979;
    std::vector<POINT> cog;
    for (int i = 0; i < 32; ++i) {
      const double angle = i * pi / 16;
      const double radius = (i / 2) % 2 == 0 ? 11.5 : 8.0;
      cog.push_back({static_cast<LONG>(std::lround(cx + radius * std::cos(angle))),
                     static_cast<LONG>(std::lround(cy + radius * std::sin(angle)))});
    }
    c.Polygon(cog, kSteel, kSteelDark);
    c.Ellipse(25, 25, 35, 35, RGB(190, 190, 190), kSteelDark);
    c.Ellipse(28, 28, 32, 32, GetSysColor(COLOR_BTNFACE), kSteelDark);
    return c.Finish();
  }();
  return picture;
}

}  // namespace vk::tasks
