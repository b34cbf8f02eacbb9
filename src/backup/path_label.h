#pragma once
// TPathLabel: a text label for file paths. An ordinary label (caption, font, colour,
// alignment, word wrap, vertical layout, transparency, enabled state) whose text the
// system may shorten with an ellipsis at its end or in the middle of a path.
#include <windows.h>

#include <string>

namespace vk::backup {

enum TWrapStyle { wsNormal = 0, wsEndEllipsis = 1, wsPathEllipsis = 2 };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TTextLayout { tlTop, tlCenter, tlBottom };

class TPathLabel {
 public:
  static constexpr const char* kClassName = "TPathLabel";

  TPathLabel() = default;
  ~TPathLabel();
  TPathLabel(const TPathLabel&) = delete;
  TPathLabel& operator=(const TPathLabel&) = delete;

  // Creates the label as a child of `parent`; it takes the parent's font.
  HWND Create(HWND parent, int x, int y, int width, int height, int id = 0);
  HWND Handle() const { return hwnd_; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  TWrapStyle WrapStyle() const { return wrapStyle_; }
  void SetWrapStyle(TWrapStyle style);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool on);
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout layout);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool on);
  bool ShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool on);
  COLORREF Color() const { return color_; }
  void SetColor(COLORREF color);
  COLORREF FontColor() const { return fontColor_; }
  void SetFontColor(COLORREF color);
  HFONT Font() const { return font_; }
  void SetFont(HFONT font);
  bool Enabled() const;
  void SetEnabled(bool on);

  // The DrawTextEx flags the caption is drawn with.
  UINT DrawFlags() const;
  // Draws the label into `dc` as it appears in its client rectangle (also used for
  // WM_PRINTCLIENT). When transparent, what lies under it must already be in `dc`.
  void PaintTo(HDC dc, const RECT& client) const;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnPaint();
  void Invalidate();

  HWND hwnd_ = nullptr;
  std::string caption_;
  TWrapStyle wrapStyle_ = wsPathEllipsis;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool wordWrap_ = false;
  TTextLayout layout_ = TTextLayout::tlTop;
  bool transparent_ = false;
  bool showAccelChar_ = false;
  bool enabled_ = true;
  COLORREF color_ = GetSysColor(COLOR_BTNFACE);
  COLORREF fontColor_ = GetSysColor(COLOR_WINDOWTEXT);
  HFONT font_ = nullptr;
};

}  // namespace vk::backup
