#include "backup/path_label.h"

#include <vector>

#include "win/handles.h"

namespace vk::backup {
namespace {

void RegisterLabelClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = TPathLabel::kClassName;
  registered = RegisterClassExA(&wc) != 0;
}

// DrawTextEx may write to the text it is given (with DT_MODIFYSTRING, which we do
// not pass); a private, writable copy keeps the caption out of its reach.
int DrawCaption(HDC dc, std::string text, RECT* rect, UINT flags) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  DRAWTEXTPARAMS params = {sizeof(params), 8, 0, 0, 0};
  return DrawTextExA(dc, buffer.data(), static_cast<int>(text.size()), rect, flags, &params);
}

}  // namespace

TPathLabel::~TPathLabel() {
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

HWND TPathLabel::Create(HWND parent, int x, int y, int width, int height, int id) {
  RegisterLabelClass(&TPathLabel::WindowProc);
  if (!font_ && parent)
    font_ = reinterpret_cast<HFONT>(SendMessageA(parent, WM_GETFONT, 0, 0));
  CreateWindowExA(0, kClassName, caption_.c_str(), WS_CHILD | WS_VISIBLE | (enabled_ ? 0 : WS_DISABLED),
                  x, y, width, height, parent,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                  this);
  return hwnd_;
}

void TPathLabel::Invalidate() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TPathLabel::SetCaption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  if (hwnd_) SetWindowTextA(hwnd_, caption.c_str());
}

void TPathLabel::SetWrapStyle(TWrapStyle style) {
  if (style == wrapStyle_) return;
  wrapStyle_ = style;
  Invalidate();
}

void TPathLabel::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  Invalidate();
}

void TPathLabel::SetWordWrap(bool on) {
  wordWrap_ = on;
  Invalidate();
}

void TPathLabel::SetLayout(TTextLayout layout) {
  layout_ = layout;
  Invalidate();
}

void TPathLabel::SetTransparent(bool on) {
  transparent_ = on;
  Invalidate();
}

void TPathLabel::SetShowAccelChar(bool on) {
  showAccelChar_ = on;
  Invalidate();
}

void TPathLabel::SetColor(COLORREF color) {
  color_ = color;
  Invalidate();
}

void TPathLabel::SetFontColor(COLORREF color) {
  fontColor_ = color;
  Invalidate();
}

void TPathLabel::SetFont(HFONT font) {
  font_ = font;
  Invalidate();
}

bool TPathLabel::Enabled() const { return hwnd_ ? IsWindowEnabled(hwnd_) != FALSE : enabled_; }

void TPathLabel::SetEnabled(bool on) {
  enabled_ = on;
  if (hwnd_) EnableWindow(hwnd_, on);
  Invalidate();
}

UINT TPathLabel::DrawFlags() const {
  UINT flags = DT_EXPANDTABS;
  switch (alignment_) {
    case TAlignment::taLeftJustify: flags |= DT_LEFT; break;
    case TAlignment::taRightJustify: flags |= DT_RIGHT; break;
    case TAlignment::taCenter: flags |= DT_CENTER; break;
  }
  if (wordWrap_) flags |= DT_WORDBREAK;
  if (wrapStyle_ == wsEndEllipsis) flags |= DT_END_ELLIPSIS;
  if (wrapStyle_ == wsPathEllipsis) flags |= DT_PATH_ELLIPSIS;
  if (!showAccelChar_) flags |= DT_NOPREFIX;
  return flags;
}

void TPathLabel::PaintTo(HDC dc, const RECT& client) const {
  if (!transparent_) {
    win::ScopedGdiObject brush(CreateSolidBrush(color_));
    FillRect(dc, &client, static_cast<HBRUSH>(brush.Get()));
  }
  HFONT font = font_ ? font_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  win::SelectGuard selectFont(dc, font);
  int oldMode = SetBkMode(dc, TRANSPARENT);
  UINT flags = DrawFlags();

  RECT rect = client;
  if (layout_ != TTextLayout::tlTop) {
    // An empty caption (or a lone accelerator mark) still counts as one line.
    std::string measured = caption_;
    if (measured.empty() || (showAccelChar_ && measured == "&")) measured = " ";
    RECT calc = rect;
    DrawCaption(dc, measured, &calc, flags | DT_CALCRECT);
    int spare = (client.bottom - client.top) - (calc.bottom - calc.top);
    OffsetRect(&rect, 0, layout_ == TTextLayout::tlBottom ? spare : spare / 2);
  }

  if (Enabled()) {
    COLORREF old = SetTextColor(dc, fontColor_);
    DrawCaption(dc, caption_, &rect, flags);
    SetTextColor(dc, old);
  } else {
    RECT raised = rect;
    OffsetRect(&raised, 1, 1);
    COLORREF old = SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawCaption(dc, caption_, &raised, flags);
    SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
    DrawCaption(dc, caption_, &rect, flags);
    SetTextColor(dc, old);
  }
  SetBkMode(dc, oldMode);
}

void TPathLabel::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT client;
  GetClientRect(hwnd_, &client);
  // Drawn off screen first, so that a fast-changing file name does not flicker.
  HDC memory = CreateCompatibleDC(dc);
  win::ScopedGdiObject bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
  {
    win::SelectGuard selectBitmap(memory, bitmap.Get());
    HWND parent = GetParent(hwnd_);
    if (transparent_ && parent) {
      // What lies under the label is the parent's background.
      POINT origin = {0, 0};
      MapWindowPoints(hwnd_, parent, &origin, 1);
      POINT old;
      SetViewportOrgEx(memory, -origin.x, -origin.y, &old);
      SendMessageA(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
      SetViewportOrgEx(memory, old.x, old.y, nullptr);
    }
    PaintTo(memory, client);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  }
  DeleteDC(memory);
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK TPathLabel::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* self = static_cast<TPathLabel*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TPathLabel*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
  return self->HandleMessage(msg, wParam, lParam);
}

LRESULT TPathLabel::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_PRINTCLIENT: {
      RECT client;
      GetClientRect(hwnd_, &client);
      PaintTo(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // painting covers the whole label
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) Invalidate();
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SETTEXT:
      // SetWindowText from anywhere changes the caption too.
      caption_ = lParam ? reinterpret_cast<const char*>(lParam) : "";
      Invalidate();
      return DefWindowProcA(hwnd_, msg, wParam, lParam);
    case WM_ENABLE:
      enabled_ = wParam != FALSE;
      Invalidate();
      return 0;
    case WM_NCHITTEST:
      return HTTRANSPARENT;  // a label takes no mouse input
    default:
      return DefWindowProcA(hwnd_, msg, wParam, lParam);
  }
}

}  // namespace vk::backup
