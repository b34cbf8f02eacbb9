#include "widgets/file_name_box.h"

#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>

#include "core/file_name_text.h"
#include "win/application.h"
#include "win/late_library.h"

namespace vk::widgets {
namespace {

constexpr int kButtonId = 1;

// The built-in picture of the button: a small yellow folder, made once for all boxes
// (from the program's resources when they hold "FILEBOXBMP").
HBITMAP DefaultGlyph() {
  static HBITMAP glyph = [] {
    auto bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), "FILEBOXBMP", IMAGE_BITMAP, 0, 0, 0));
    if (bitmap) return bitmap;
    HDC screen = GetDC(nullptr);
    bitmap = CreateCompatibleBitmap(screen, 12, 10);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all = {0, 0, 12, 10};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
    HBRUSH outline = CreateSolidBrush(RGB(128, 96, 0));
    HBRUSH yellow = CreateSolidBrush(RGB(255, 220, 64));
    const RECT tab = {1, 0, 6, 2}, body = {0, 2, 12, 10}, inner = {1, 3, 11, 9};
    FillRect(dc, &tab, outline);
    FillRect(dc, &body, outline);
    FillRect(dc, &inner, yellow);
    DeleteObject(outline);
    DeleteObject(yellow);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
  }();
  return glyph;
}

HBITMAP ComboArrow() {
  static HBITMAP arrow = LoadBitmapA(nullptr, MAKEINTRESOURCEA(32738));  // OBM_COMBO
  return arrow;
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  if (bitmap) GetObjectA(bitmap, sizeof info, &info);
  return {info.bmWidth, info.bmHeight};
}

int FontHeight(HFONT font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return metrics.tmHeight;
}

// The folder part of a path: up to its last backslash or colon, without a trailing
// backslash unless that follows the drive.
std::string FolderOf(const std::string& path) {
  const size_t end = path.find_last_of("\\:");
  if (end == std::string::npos) return "";
  if (path[end] == ':' || (end > 0 && path[end - 1] == ':')) return path.substr(0, end + 1);
  return path.substr(0, end);
}

}  // namespace

// ---------------------------------------------------------------------------------
// TButtonEdit

TButtonEdit::TButtonEdit() = default;

TButtonEdit::~TButtonEdit() {
  if (hwnd_) {
    RemoveWindowSubclass(hwnd_, BoxProc, reinterpret_cast<UINT_PTR>(this));
    DestroyWindow(hwnd_);
  }
}

void TButtonEdit::Create(HWND parent, int id, int x, int y, int width, int height) {
  hwnd_ = CreateWindowExA(ctl3D_ ? WS_EX_CLIENTEDGE : 0, "EDIT", "",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | ES_AUTOHSCROLL |
                              (ctl3D_ ? 0 : WS_BORDER),
                          x, y, width, height, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleA(nullptr), nullptr);
  button_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 0, 0,
                            hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)),
                            GetModuleHandleA(nullptr), nullptr);
  SetWindowSubclass(hwnd_, BoxProc, reinterpret_cast<UINT_PTR>(this),
                    reinterpret_cast<DWORD_PTR>(this));
  if (height < MinimumHeight()) SetWindowPos(hwnd_, nullptr, 0, 0, width, height,
                                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateReadOnly();
  Layout();
  Created();
}

std::string TButtonEdit::Text() const {
  const int n = GetWindowTextLengthA(hwnd_);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(hwnd_, text.data(), n + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void TButtonEdit::SetText(const std::string& text) { SetWindowTextA(hwnd_, text.c_str()); }

void TButtonEdit::SetEnabled(bool on) {
  EnableWindow(hwnd_, on);
  EnableWindow(button_, on);
  InvalidateRect(button_, nullptr, TRUE);
}

void TButtonEdit::SetDirectInput(bool on) {
  directInput_ = on;
  UpdateReadOnly();
}

void TButtonEdit::SetReadOnly(bool on) {
  readOnly_ = on;
  UpdateReadOnly();
}

void TButtonEdit::UpdateReadOnly() {
  if (hwnd_) SendMessageA(hwnd_, EM_SETREADONLY, readOnly_ || !directInput_, 0);
}

void TButtonEdit::SetCtl3D(bool on) {
  ctl3D_ = on;
  if (!hwnd_) return;
  LONG_PTR ex = GetWindowLongPtrA(hwnd_, GWL_EXSTYLE), style = GetWindowLongPtrA(hwnd_, GWL_STYLE);
  SetWindowLongPtrA(hwnd_, GWL_EXSTYLE, on ? ex | WS_EX_CLIENTEDGE : ex & ~WS_EX_CLIENTEDGE);
  SetWindowLongPtrA(hwnd_, GWL_STYLE, on ? style & ~WS_BORDER : style | WS_BORDER);
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  Layout();
}

void TButtonEdit::SetButtonWidth(int width) {
  RECT client = {};
  if (hwnd_) GetClientRect(hwnd_, &client);
  if (width <= 0 || (hwnd_ && width >= client.right)) return;
  buttonWidth_ = width;
  Layout();
}

void TButtonEdit::SetButtonGlyph(TButtonGlyph kind) {
  glyphKind_ = kind;
  Layout();
}

void TButtonEdit::SetGlyph(HBITMAP glyph, int numGlyphs) {
  glyph_ = glyph;
  numGlyphs_ = std::clamp(numGlyphs, 1, 4);
  glyphKind_ = TButtonGlyph::bgCustom;
  Layout();
}

SIZE TButtonEdit::GlyphSize() const {
  switch (glyphKind_) {
    case TButtonGlyph::bgCustom: {
      SIZE size = BitmapSize(glyph_);
      size.cx /= numGlyphs_;
      return size;
    }
    case TButtonGlyph::bgDefault: return BitmapSize(DefaultGlyph());
    case TButtonGlyph::bgDropDown: return BitmapSize(ComboArrow());
    case TButtonGlyph::bgEllipsis: return {buttonWidth_ - 4, 4};
  }
  return {};
}

RECT TButtonEdit::ButtonRect() const {
  RECT window = {};
  GetWindowRect(hwnd_, &window);
  const int width = window.right - window.left, height = window.bottom - window.top;
  int buttonWidth = buttonWidth_;
  // The built-in picture always fits.
  if (glyphKind_ == TButtonGlyph::bgDefault) buttonWidth = std::max<int>(buttonWidth, GlyphSize().cx + 4);
  if (ctl3D_) return {width - buttonWidth - 4, 0, width - 4, height - 4};
  return {width - buttonWidth - 2, 2, width - 2, height - 2};
}

int TButtonEdit::MinimumHeight() const {
  const auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
  return std::min(FontHeight(nullptr), FontHeight(font)) + 4 * GetSystemMetrics(SM_CYBORDER) + 1;
}

void TButtonEdit::Layout() {
  if (!hwnd_) return;
  const RECT r = ButtonRect();
  SetWindowPos(button_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(hwnd_, &client);
  // The text stops short of the button.
  const int right = std::max(0, static_cast<int>(client.right - r.left) + 2);
  SendMessageA(hwnd_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, right));
  InvalidateRect(button_, nullptr, TRUE);
}

void TButtonEdit::ButtonClick() {
  if (OnButtonClick) OnButtonClick(*this);
}

bool TButtonEdit::IsClickKey(UINT msg, WPARAM key, LPARAM lParam) const {
  if (key != (ClickKey & 0xFF)) return false;
  const bool alt = (msg == WM_SYSKEYDOWN && (lParam & (1 << 29))) || GetKeyState(VK_MENU) < 0;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
  return alt == ((ClickKey & kShortCutAlt) != 0) && ctrl == ((ClickKey & kShortCutCtrl) != 0) &&
         shift == ((ClickKey & kShortCutShift) != 0);
}

void TButtonEdit::DrawButton(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool enabled = IsWindowEnabled(hwnd_) && !(item.itemState & ODS_DISABLED);
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  const SIZE size = GlyphSize();
  const int shift = pressed ? 1 : 0;
  const int x = (r.left + r.right - size.cx) / 2 + shift, y = (r.top + r.bottom - size.cy) / 2 + shift;
  if (glyphKind_ == TButtonGlyph::bgEllipsis) {
    HBRUSH dots = GetSysColorBrush(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
    const int gap = std::min(3, std::max(1, static_cast<int>(size.cx - 6) / 2));
    const int start = x + (size.cx - (6 + 2 * gap)) / 2;
    for (int i = 0; i < 3; ++i) {
      const RECT dot = {start + i * (2 + gap), y + 1, start + i * (2 + gap) + 2, y + 3};
      FillRect(dc, &dot, dots);
    }
  } else {
    HBITMAP bitmap = glyphKind_ == TButtonGlyph::bgCustom    ? glyph_
                     : glyphKind_ == TButtonGlyph::bgDefault ? DefaultGlyph()
                                                             : ComboArrow();
    if (bitmap) {
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, bitmap);
      // The second image of a custom picture shows the disabled button.
      const int image = !enabled && glyphKind_ == TButtonGlyph::bgCustom && numGlyphs_ > 1 ? 1 : 0;
      const COLORREF key = GetPixel(memory, image * size.cx, size.cy - 1);
      TransparentBlt(dc, x, y, size.cx, size.cy, memory, image * size.cx, 0, size.cx, size.cy, key);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
  }
  if (!pressed) {
    const int height = r.bottom - r.top;
    HPEN face = CreatePen(PS_SOLID, 1, GetSysColor(ctl3D_ ? COLOR_BTNFACE : COLOR_BTNSHADOW));
    HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
    HGDIOBJ old = SelectObject(dc, face);
    MoveToEx(dc, r.left, r.top, nullptr);
    LineTo(dc, r.left, r.bottom);
    SelectObject(dc, light);
    MoveToEx(dc, r.left + 1, r.top + 1, nullptr);
    LineTo(dc, r.left + 1, r.top + height - 1);
    SelectObject(dc, old);
    DeleteObject(face);
    DeleteObject(light);
  }
}

bool TButtonEdit::BoxMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TButtonEdit::OnBoxMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (BoxMessage(msg, wParam, lParam, result)) return result;
  const bool typing = directInput_ && !readOnly_;
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
        if (!readOnly_) ButtonClick();
        return 0;
      }
      break;
    case WM_DRAWITEM:
      if (wParam == kButtonId) {
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (IsClickKey(msg, wParam, lParam)) {
        if (!readOnly_) ButtonClick();
        return 0;
      }
      break;
    case WM_CUT:
    case WM_PASTE:
    case WM_CLEAR:
      if (!typing) return 0;
      break;
    case WM_GETDLGCODE:
      result = DefSubclassProc(hwnd_, msg, wParam, lParam);
      return AutoSelect && directInput_ ? result : result & ~DLGC_HASSETSEL;
    case WM_SETFONT:
      // The edit control sets its margins from a new font; the button's room goes back.
      result = DefSubclassProc(hwnd_, msg, wParam, lParam);
      Layout();
      return result;
    case WM_WINDOWPOSCHANGING: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!(pos->flags & SWP_NOSIZE)) pos->cy = std::max<int>(pos->cy, MinimumHeight());
      break;
    }
    case WM_SIZE:
      result = DefSubclassProc(hwnd_, msg, wParam, lParam);
      Layout();
      return result;
    case WM_ENABLE:
      EnableWindow(button_, wParam != 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK TButtonEdit::BoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TButtonEdit*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, BoxProc, reinterpret_cast<UINT_PTR>(self));
    self->hwnd_ = self->button_ = nullptr;
    return DefSubclassProc(hwnd, msg, wParam, lParam);
  }
  LRESULT result = 0;
  bool handled = false;
  win::App().Guard([&] {
    result = self->OnBoxMessage(msg, wParam, lParam);
    handled = true;
  });
  return handled ? result : 0;
}

// ---------------------------------------------------------------------------------
// TPathBox

TPathBox::TPathBox() { SetButtonGlyph(TButtonGlyph::bgDefault); }

namespace {
void LetFilesDrop(HWND box, bool on) {
  // Nothing to undo on a box that never took files: shell32 is not loaded for it.
  if (on || (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_ACCEPTFILES))
    win::Late<decltype(DragAcceptFiles)>("shell32.dll", "DragAcceptFiles")(box, on);
}
}  // namespace

void TPathBox::Created() { LetFilesDrop(Handle(), acceptFiles_); }

void TPathBox::SetAcceptFiles(bool on) {
  acceptFiles_ = on;
  if (Handle()) LetFilesDrop(Handle(), on);
}

bool TPathBox::BoxMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg != WM_DROPFILES) return false;
  auto drop = reinterpret_cast<HDROP>(wParam);
  result = 0;
  const auto dragFinish = win::Late<decltype(DragFinish)>("shell32.dll", "DragFinish");
  if (!acceptFiles_) {
    dragFinish(drop);
    return true;
  }
  struct Finish {  // the drop is finished whatever the name does
    HDROP drop;
    decltype(DragFinish)* finish;
    ~Finish() { finish(drop); }
  } finish{drop, dragFinish};
  char name[255] = {};
  win::Late<decltype(DragQueryFileA)>("shell32.dll", "DragQueryFileA")(drop, 0, name, sizeof name);
  DroppedFile(name);
  if (OnDropFiles) OnDropFiles(*this);
  return true;
}

// ---------------------------------------------------------------------------------
// TFileNameBox

TFileNameBox::TFileNameBox() = default;

std::string TFileNameBox::FileName() const { return FileNameOfText(Text()); }

void TFileNameBox::SetFileName(const std::string& value) {
  bool tooLong = false;
  const std::string name = FileNameOfText(value, &tooLong);
  if (tooLong || !IsValidBoxFileName(name))
    throw EButtonEditError("Ungültiger Dateiname - " + value);
  SetText(QuoteIfBlank(value));
}

void TFileNameBox::DroppedFile(const std::string& name) { SetFileName(name); }

DWORD TFileNameBox::DialogFlags() const {
  static const DWORD kFlags[] = {
      OFN_READONLY,     OFN_OVERWRITEPROMPT, OFN_HIDEREADONLY,     OFN_NOCHANGEDIR,
      OFN_SHOWHELP,     OFN_NOVALIDATE,      OFN_ALLOWMULTISELECT, OFN_EXTENSIONDIFFERENT,
      OFN_PATHMUSTEXIST, OFN_FILEMUSTEXIST,  OFN_CREATEPROMPT,     OFN_SHAREAWARE,
      OFN_NOREADONLYRETURN, OFN_NOTESTFILECREATE,
  };
  DWORD flags = OFN_EXPLORER | OFN_ENABLESIZING;
  for (TOpenOption option : DialogOptions) flags |= kFlags[static_cast<int>(option)];
  return flags;
}

void TFileNameBox::ButtonClick() {
  std::string name = FileName();
  bool action = true;
  if (OnBeforeDialog) OnBeforeDialog(*this, name, action);
  if (!action) return;

  char file[MAX_PATH] = {};
  if (IsValidBoxFileName(name)) {
    const std::string folder = FolderOf(name);
    const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      InitialDir = folder;
    name.copy(file, sizeof file - 1);
  }
  std::string filter = Filter;
  std::replace(filter.begin(), filter.end(), '|', '\0');
  filter.append(2, '\0');
  const std::string extension = !DefaultExt.empty() && DefaultExt[0] == '.' ? DefaultExt.substr(1) : DefaultExt;

  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetAncestor(Handle(), GA_ROOT);
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = static_cast<DWORD>(FilterIndex);
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
  dialog.lpstrTitle = DialogTitle.c_str();
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  dialog.Flags = DialogFlags();
  const auto getOpenFileName = win::Late<decltype(GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA");
  BOOL chosen = getOpenFileName(&dialog);
  if (!chosen && win::Late<decltype(CommDlgExtendedError)>("comdlg32.dll", "CommDlgExtendedError")() ==
                     FNERR_INVALIDFILENAME) {
    file[0] = '\0';  // a name the dialog refuses to start with: start empty
    chosen = getOpenFileName(&dialog);
  }
  action = chosen != FALSE;
  if (chosen) {
    name = file;
    FilterIndex = static_cast<int>(dialog.nFilterIndex);
  }
  if (IsWindowEnabled(Handle()) && IsWindowVisible(Handle())) SetFocus(Handle());
  if (OnAfterDialog) OnAfterDialog(*this, name, action);
  if (!action) return;
  SetText(QuoteIfBlank(name));
  InitialDir = FolderOf(FileName());
}

}  // namespace vk::widgets
