#include "widgets/float_pages.h"

#include <algorithm>

namespace vk::widgets {
namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

SIZE TextSize(HDC dc, const std::string& text) {
  SIZE size = {};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

// Between a tab's picture and its text.
constexpr int kPictureGap = 1;
// The tab control draws its frame into every tab and leaves the drawing its width
// less 5 pixels; with the padding of 2 that a full dialog affords, one pixel is short.
constexpr int kFrameShortfall = 1;

}  // namespace

// ---------------------------------------------------------------------------------
// The drawing of a tab

int TCustomFloatTabControl::PictureBlanks(int image) const {
  if (!images_ || !hwnd_) return 0;
  int width = 0, height = 0;
  ImageList_GetIconSize(images_, &width, &height);
  const int room = (image < 0 ? 0 : width + kPictureGap) + kFrameShortfall;
  HDC dc = GetDC(hwnd_);
  const auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  const int blank = std::max<int>(1, TextSize(dc, " ").cx);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  return (room + blank - 1) / blank;
}

void TCustomFloatTabControl::DrawTab(HDC dc, int index, const RECT& tabRect) {
  const std::string caption = tabs_.Get(index);
  if (OnDrawTab) {
    OnDrawTab(*this, dc, caption, index, tabRect);
    return;
  }
  RECT r = tabRect;
  auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
  SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  SetTextColor(dc, GetSysColor(hotTrack_ && index == hotTab_ ? COLOR_HIGHLIGHT : COLOR_BTNTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  SetBkMode(dc, TRANSPARENT);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  const std::string text = Trimmed(caption);
  const int image = tabs_.Image(index);
  if (images_ && image != -1) {
    int w = 0, h = 0;
    ImageList_GetIconSize(images_, &w, &h);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (verticalTabs_) {
      ImageList_Draw(images_, image, dc, r.left + width / 2 - w / 2, r.top, ILD_TRANSPARENT);
      r.top += h + kPictureGap;
    } else {
      ImageList_Draw(images_, image, dc, r.left, r.top + height / 2 - h / 2, ILD_TRANSPARENT);
      r.left += w + kPictureGap;
    }
  }
  if (textRotation_ == TTextRotation::trVertical) {
    DrawRotatedText(dc, text, tabPosition_ == TFloatTabPosition::tpTopLeft ? 90 : 270, r);
    return;
  }
  const SIZE size = TextSize(dc, text);
  const int x = r.left + (r.right - r.left) / 2 - size.cx / 2;
  const int y = r.top + (r.bottom - r.top) / 2 - size.cy / 2;
  ExtTextOutA(dc, x, y, ETO_CLIPPED, &r, text.c_str(), static_cast<UINT>(text.size()), nullptr);
}

void TCustomFloatTabControl::DrawRotatedText(HDC dc, const std::string& text, int angle,
                                             const RECT& r) {
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  const SIZE size = TextSize(dc, text);
  const int width = r.right - r.left, height = r.bottom - r.top;
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  if (metrics.tmPitchAndFamily & TMPF_TRUETYPE) {
    LOGFONTA turned = {};
    GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof turned, &turned);
    turned.lfEscapement = turned.lfOrientation = angle * 10;
    HFONT font = CreateFontIndirectA(&turned);
    HGDIOBJ old = SelectObject(dc, font);
    const int x = angle == 90 ? r.left + width / 2 - size.cy / 2 : r.left + width / 2 + size.cy / 2;
    const int y = angle == 90 ? r.top + height / 2 + size.cx / 2 : r.top + height / 2 - size.cx / 2;
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    ExtTextOutA(dc, x, y, ETO_CLIPPED, &r, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    SelectObject(dc, old);
    DeleteObject(font);
    return;
  }
  // A font that cannot be turned: draw the text into a square bitmap and turn that.
  int side = std::max(size.cx, size.cy);
  side += side % 2;
  if (side == 0) return;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* sourceBits = nullptr;
  void* targetBits = nullptr;
  HBITMAP source = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &sourceBits, nullptr, 0);
  HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &targetBits, nullptr, 0);
  HDC memory = CreateCompatibleDC(dc);
  if (source && target && memory) {
    HGDIOBJ oldBitmap = SelectObject(memory, source);
    SelectObject(memory, GetCurrentObject(dc, OBJ_FONT));
    RECT all = {0, 0, side, side};
    FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, GetTextColor(dc));
    TextOutA(memory, 0, side / 2 - size.cy / 2, text.c_str(), static_cast<int>(text.size()));
    GdiFlush();
    const auto* from = static_cast<const DWORD*>(sourceBits);
    auto* to = static_cast<DWORD*>(targetBits);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const SourcePixel p = RotatedSource(x, y, side, side, angle);
        const bool inside = p.x >= 0 && p.x < side && p.y >= 0 && p.y < side;
        to[y * side + x] = inside ? from[p.y * side + p.x] : 0xC0C0C0C0;
      }
    SelectObject(memory, target);
    const int left = side / 2 - size.cy / 2 - (angle == 270 ? 1 : 0);
    BitBlt(dc, r.left + (width - size.cy) / 2, r.top + (height - size.cx) / 2, size.cy, size.cx,
           memory, left, 0, SRCCOPY);
    SelectObject(memory, oldBitmap);
  }
  if (memory) DeleteDC(memory);
  if (source) DeleteObject(source);
  if (target) DeleteObject(target);
}

}  // namespace vk::widgets
