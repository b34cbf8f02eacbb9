#include "backup/path_label.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using vk::backup::TPathLabel;
using vk::backup::TTextLayout;
using vk::backup::TWrapStyle;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr int kHeight = 40;
const std::string kPath = "C:\\Kestrone\\Filebase\\Unterordner\\Datei.txt";

// A 32-bit picture of one drawing, pixel by pixel.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  bool operator==(const Picture& o) const { return pixels == o.pixels; }
  // Columns and rows that hold anything but the background.
  bool Ink(int x0, int x1, int y0, int y1, uint32_t background) const {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (At(x, y) != background) return true;
    return false;
  }
};

uint32_t Pixel(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// Draws into a fresh DIB of the given size, first filled with `fill`.
template <class Draw>
Picture Render(int width, int height, COLORREF fill, Draw draw) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT all = {0, 0, width, height};
  HBRUSH brush = CreateSolidBrush(fill);
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  draw(dc);
  GdiFlush();
  Picture p;
  p.width = width;
  p.height = height;
  const auto* src = static_cast<const uint32_t*>(bits);
  p.pixels.assign(src, src + static_cast<size_t>(width) * height);
  for (auto& px : p.pixels) px &= 0xFFFFFF;
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return p;
}

class PathLabelDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    font_ = CreateFontA(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                        FIXED_PITCH | FF_MODERN, "Liberation Mono");
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font_);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    SIZE size;
    GetTextExtentPoint32A(dc, "W", 1, &size);
    charWidth_ = size.cx;
    GetTextExtentPoint32A(dc, "i", 1, &size);
    fixed_ = size.cx == charWidth_;
    lineHeight_ = tm.tmHeight;
    SelectObject(dc, old);
    DeleteDC(dc);
    ASSERT_TRUE(fixed_) << "no fixed-pitch font";
    width_ = 20 * charWidth_;  // room for 20 of the path's 42 characters

    label.SetFont(font_);
    label.SetColor(kWhite);
    label.SetFontColor(kBlack);
  }
  void TearDown() override { DeleteObject(font_); }

  Picture DrawLabel(int width, int height = kHeight, COLORREF fill = kWhite) {
    return Render(width, height, fill, [&](HDC dc) {
      RECT r = {0, 0, width, height};
      label.PaintTo(dc, r);
    });
  }
  // `text` drawn plainly, as a reference for what the label must show.
  Picture DrawPlain(const std::string& text, int width, UINT flags = DT_NOPREFIX, int top = 0) {
    return Render(width, kHeight, kWhite, [&](HDC dc) {
      HGDIOBJ old = SelectObject(dc, font_);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, kBlack);
      RECT r = {0, top, width, kHeight + top};
      DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_EXPANDTABS);
      SelectObject(dc, old);
    });
  }
  // What the system makes of the path in the label's width with one ellipsis flag.
  std::string Shortened(UINT ellipsis) {
    std::vector<char> buffer(kPath.begin(), kPath.end());
    buffer.resize(kPath.size() + 8, '\0');
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font_);
    RECT r = {0, 0, width_, kHeight};
    DrawTextA(dc, buffer.data(), static_cast<int>(kPath.size()), &r,
              DT_NOPREFIX | DT_MODIFYSTRING | ellipsis);
    SelectObject(dc, old);
    DeleteDC(dc);
    return buffer.data();
  }

  TPathLabel label;
  HFONT font_ = nullptr;
  int charWidth_ = 0, lineHeight_ = 0, width_ = 0;
  bool fixed_ = false;
};

TEST_F(PathLabelDrawing, NewLabelShortensPathsInTheMiddle) {
  EXPECT_EQ(label.WrapStyle(), vk::backup::wsPathEllipsis);
  EXPECT_FALSE(label.ShowAccelChar());
}

TEST_F(PathLabelDrawing, NormalStyleCutsThePathAtTheEdge) {
  label.SetWrapStyle(vk::backup::wsNormal);
  label.SetCaption(kPath);
  Picture shown = DrawLabel(width_);
  // Exactly the first part of the whole path, drawn without shortening...
  Picture whole = DrawPlain(kPath, width_ * 3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < width_; ++x) ASSERT_EQ(shown.At(x, y), whole.At(x, y)) << x << "," << y;
  // ... with ink up to the last character cell: the text runs on beyond the edge.
  EXPECT_TRUE(shown.Ink(width_ - charWidth_, width_, 0, kHeight, Pixel(kWhite)));
  // Nothing spills out of the label's rectangle.
  Picture wide = Render(width_ * 3, kHeight, kWhite, [&](HDC dc) {
    RECT r = {0, 0, width_, kHeight};
    label.PaintTo(dc, r);
  });
  EXPECT_FALSE(wide.Ink(width_, width_ * 3, 0, kHeight, Pixel(kWhite)));
}

TEST_F(PathLabelDrawing, EndEllipsisKeepsTheBeginning) {
  std::string expected = Shortened(DT_END_ELLIPSIS);
  ASSERT_GE(expected.size(), 4u);
  EXPECT_EQ(expected.substr(expected.size() - 3), "...");
  std::string kept = expected.substr(0, expected.size() - 3);
  EXPECT_EQ(kPath.compare(0, kept.size(), kept), 0) << expected;
  EXPECT_LE(static_cast<int>(expected.size()) * charWidth_, width_);

  label.SetWrapStyle(vk::backup::wsEndEllipsis);
  label.SetCaption(kPath);
  EXPECT_EQ(DrawLabel(width_), DrawPlain(expected, width_));
  EXPECT_EQ(label.Caption(), kPath);  // the caption itself is not shortened
}

TEST_F(PathLabelDrawing, PathEllipsisKeepsTheLastComponent) {
  std::string expected = Shortened(DT_PATH_ELLIPSIS);
  const std::string last = "\\Datei.txt";
  ASSERT_GE(expected.size(), last.size() + 3);
  EXPECT_EQ(expected.substr(expected.size() - last.size()), last) << expected;
  EXPECT_NE(expected.find("..."), std::string::npos) << expected;
  EXPECT_EQ(expected.substr(0, 3), "C:\\") << expected;
  EXPECT_LE(static_cast<int>(expected.size()) * charWidth_, width_);

  label.SetWrapStyle(vk::backup::wsPathEllipsis);
  label.SetCaption(kPath);
  EXPECT_EQ(DrawLabel(width_), DrawPlain(expected, width_));

  // A path that fits is drawn whole under every style.
  label.SetCaption("C:\\a\\b.txt");
  for (TWrapStyle s : {vk::backup::wsNormal, vk::backup::wsEndEllipsis, vk::backup::wsPathEllipsis}) {
    label.SetWrapStyle(s);
    EXPECT_EQ(DrawLabel(width_), DrawPlain("C:\\a\\b.txt", width_)) << s;
  }
}

TEST_F(PathLabelDrawing, AmpersandIsShownUnlessAcceleratorsAreOn) {
  label.SetWrapStyle(vk::backup::wsNormal);
  label.SetCaption("R&D");
  EXPECT_EQ(DrawLabel(width_), DrawPlain("R&D", width_, DT_NOPREFIX));
  label.SetShowAccelChar(true);
  Picture withPrefix = DrawLabel(width_);
  EXPECT_EQ(withPrefix, DrawPlain("R&D", width_, 0));
  // Two characters instead of three.
  EXPECT_FALSE(withPrefix.Ink(2 * charWidth_, width_, 0, kHeight, Pixel(kWhite)));
}

TEST_F(PathLabelDrawing, LayoutPlacesOneLineAtTopCentreOrBottom) {
  label.SetWrapStyle(vk::backup::wsNormal);
  label.SetCaption("Datei.txt");
  int spare = kHeight - lineHeight_;
  label.SetLayout(TTextLayout::tlTop);
  EXPECT_EQ(DrawLabel(width_), DrawPlain("Datei.txt", width_));
  label.SetLayout(TTextLayout::tlCenter);
  EXPECT_EQ(DrawLabel(width_), DrawPlain("Datei.txt", width_, DT_NOPREFIX, spare / 2));
  label.SetLayout(TTextLayout::tlBottom);
  EXPECT_EQ(DrawLabel(width_), DrawPlain("Datei.txt", width_, DT_NOPREFIX, spare));

  // Word wrap with right alignment: two lines, moved up together at the bottom.
  label.SetWordWrap(true);
  label.SetAlignment(vk::backup::TAlignment::taRightJustify);
  label.SetCaption("eins zwei drei vier fuenf sechs");
  Picture two = DrawLabel(width_);
  EXPECT_EQ(two, DrawPlain("eins zwei drei vier fuenf sechs", width_,
                           DT_NOPREFIX | DT_WORDBREAK | DT_RIGHT, kHeight - 2 * lineHeight_));
}

TEST_F(PathLabelDrawing, TransparencyAndTheEngravedDisabledLook) {
  const COLORREF red = RGB(200, 0, 0);
  label.SetWrapStyle(vk::backup::wsNormal);
  label.SetCaption("abc");
  label.SetColor(RGB(0, 0, 200));
  Picture opaque = DrawLabel(width_, kHeight, red);
  EXPECT_EQ(opaque.At(width_ - 1, kHeight - 1), Pixel(RGB(0, 0, 200)));
  label.SetTransparent(true);
  Picture clear = DrawLabel(width_, kHeight, red);
  EXPECT_EQ(clear.At(width_ - 1, kHeight - 1), Pixel(red));
  EXPECT_TRUE(clear.Ink(0, 3 * charWidth_, 0, lineHeight_, Pixel(red)));

  label.SetEnabled(false);
  label.SetColor(kWhite);
  label.SetTransparent(false);
  Picture engraved = DrawLabel(width_);
  uint32_t light = Pixel(GetSysColor(COLOR_BTNHIGHLIGHT));
  uint32_t dark = Pixel(GetSysColor(COLOR_BTNSHADOW));
  bool sawDark = false, sawBlack = false;
  for (uint32_t p : engraved.pixels) {
    sawDark |= p == dark;
    sawBlack |= p == Pixel(kBlack);
  }
  EXPECT_TRUE(sawDark);
  EXPECT_FALSE(sawBlack);
  // The highlight copy lies one pixel right and down: against a dark background it
  // shows below the shadow copy's last row.
  label.SetColor(kBlack);
  Picture onDark = DrawLabel(width_);
  bool sawLight = false;
  for (uint32_t p : onDark.pixels) sawLight |= p == light;
  EXPECT_TRUE(sawLight);
}

TEST(PathLabelWindow, RepaintsOnlyWhenSomethingChanged) {
  HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 300, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(parent);
  {
    TPathLabel label;
    HWND h = label.Create(parent, 10, 10, 253, 17, 77);
    ASSERT_TRUE(h);
    EXPECT_EQ(GetDlgItem(parent, 77), h);
    UpdateWindow(h);
    ValidateRect(h, nullptr);
    label.SetWrapStyle(vk::backup::wsPathEllipsis);  // the style it already has
    EXPECT_FALSE(GetUpdateRect(h, nullptr, FALSE));
    label.SetWrapStyle(vk::backup::wsNormal);
    EXPECT_TRUE(GetUpdateRect(h, nullptr, FALSE));
    ValidateRect(h, nullptr);

    // Text set through the window reaches the caption and is repainted.
    SetWindowTextA(h, "C:\\x\\y.txt");
    EXPECT_EQ(label.Caption(), "C:\\x\\y.txt");
    EXPECT_TRUE(GetUpdateRect(h, nullptr, FALSE));
    label.SetCaption("z");
    char text[16] = {};
    GetWindowTextA(h, text, sizeof text);
    EXPECT_STREQ(text, "z");

    EnableWindow(h, FALSE);
    EXPECT_FALSE(label.Enabled());
  }
  DestroyWindow(parent);
}

}  // namespace
