#include "widgets/float_pages.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>

#include "win/application.h"
#include "win/msgbox.h"

namespace vk::widgets {
namespace {

constexpr char kSheetClass[] = "VaultkinFloatSheet";
constexpr char kFloatingClass[] = "VaultkinFloatingForm";

void RegisterOnce(const char* name, WNDPROC proc) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExA(GetModuleHandleA(nullptr), name, &wc)) return;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = name;
  RegisterClassExA(&wc);
}

}  // namespace

// ---------------------------------------------------------------------------------
// TFloatingForm

TFloatingForm::TFloatingForm(TFloatTabSheet& sheet, int clientWidth, int clientHeight)
    : sheet_(sheet) {
  RegisterOnce(kFloatingClass, WindowProc);
  constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
  constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
  RECT r = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  HWND owner = nullptr;
  if (TFloatPageControl* target = sheet.dockTarget_)
    owner = GetAncestor(target->Handle(), GA_ROOT);
  CreateWindowExA(kExStyle, kFloatingClass, sheet.Caption().c_str(), kStyle, 0, 0,
                  r.right - r.left, r.bottom - r.top, owner, nullptr, GetModuleHandleA(nullptr),
                  this);
}

TFloatingForm::~TFloatingForm() {
  if (!hwnd_) return;
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

LRESULT CALLBACK TFloatingForm::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<TFloatingForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TFloatingForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_CLOSE: {
      // Docks the sheet and frees this window; nothing of it may be touched after.
      TFloatTabSheet& sheet = self->sheet_;
      win::App().Guard([&] {
        sheet.DockSheet();
        sheet.CloseFloatingForm();
      });
      return 0;
    }
    case WM_SIZE: {
      HWND page = self->sheet_.Handle();
      if (page && GetParent(page) == hwnd)
        MoveWindow(page, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    }
    case WM_DESTROY:
      // Destroyed from outside (with its owner, say), not by the sheet: the sheet goes
      // back while its window still exists, so that its controls survive.
      win::App().Guard([&] { self->sheet_.DockSheet(); });
      break;
    case WM_NCDESTROY: {
      TFloatTabSheet& sheet = self->sheet_;
      self->hwnd_ = nullptr;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      sheet.CloseFloatingForm();  // frees this object: no handle of it stays behind
      break;
    }
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------
// TFloatTabSheet

TFloatTabSheet::TFloatTabSheet() = default;

TFloatTabSheet::~TFloatTabSheet() {
  if (pageControl_) pageControl_->DetachSheet(this);
  if (dockTarget_) {
    auto& floating = dockTarget_->floating_;
    floating.erase(std::remove(floating.begin(), floating.end(), this), floating.end());
  }
  floatingForm_.reset();
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void TFloatTabSheet::EnsureWindow(HWND parent) {
  if (!hwnd_) {
    RegisterOnce(kSheetClass, WindowProc);
    CreateWindowExA(WS_EX_CONTROLPARENT, kSheetClass, caption_.c_str(),
                    WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 100, 100, parent, nullptr,
                    GetModuleHandleA(nullptr), this);
  } else if (GetParent(hwnd_) != parent) {
    SetParent(hwnd_, parent);
  }
}

void TFloatTabSheet::SetPageControl(TFloatPageControl* control) {
  if (control == pageControl_) return;
  if (pageControl_) pageControl_->DetachSheet(this);
  if (!control) return;
  EnsureWindow(GetParent(control->Handle()));
  control->AttachSheet(this);
}

void TFloatTabSheet::ShowTab() {
  tabShown_ = true;
  pageControl_->Tabs().Insert(VisibleTabIndex(), caption_, this);
  pageControl_->Tabs().SetImage(VisibleTabIndex(), imageIndex_);
}

void TFloatTabSheet::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (hwnd_) SetWindowTextA(hwnd_, caption.c_str());
  if (tabShown_) pageControl_->Tabs().Put(VisibleTabIndex(), caption);
}

void TFloatTabSheet::SetDragable(bool on) {
  dragable_ = on;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFloatTabSheet::SetGripAlign(TGripAlign align) {
  gripAlign_ = align;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFloatTabSheet::SetImageIndex(int index) {
  imageIndex_ = index;
  if (tabShown_) pageControl_->Tabs().SetImage(VisibleTabIndex(), index);
}

int TFloatTabSheet::PageIndex() const {
  if (!pageControl_) return -1;
  const auto& pages = pageControl_->pages_;
  return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TFloatTabSheet::SetPageIndex(int index) {
  if (pageControl_) pageControl_->MovePage(this, index);
}

void TFloatTabSheet::SetTabVisible(bool on) {
  tabVisible_ = on;
  if (!pageControl_ || on == tabShown_) return;
  if (on) {
    ShowTab();
  } else {
    const int tab = VisibleTabIndex();
    tabShown_ = false;
    pageControl_->Tabs().Delete(tab);
  }
  TFloatTabSheet* active = pageControl_->activePage_;
  pageControl_->SelectTab(active ? active->VisibleTabIndex() : -1);
}

int TFloatTabSheet::VisibleTabIndex() const {
  if (!pageControl_ || !tabShown_) return -1;
  int index = 0;
  for (TFloatTabSheet* page : pageControl_->pages_) {
    if (page == this) return index;
    if (page->tabShown_) ++index;
  }
  return -1;
}

GripEdge TFloatTabSheet::Edge() const {
  switch (gripAlign_) {
    case TGripAlign::gaRight: return GripEdge::Right;
    case TGripAlign::gaTop: return GripEdge::Top;
    case TGripAlign::gaBottom: return GripEdge::Bottom;
    default: return GripEdge::Left;
  }
}

int TFloatTabSheet::Width() const {
  RECT r = {};
  if (hwnd_) GetClientRect(hwnd_, &r);
  return r.right;
}

int TFloatTabSheet::Height() const {
  RECT r = {};
  if (hwnd_) GetClientRect(hwnd_, &r);
  return r.bottom;
}

RECT TFloatTabSheet::GripRect() const {
  if (!dragable_ || floating_) return {};
  const PixelRect p = GripStrip(Edge(), Width(), Height());
  return {p.left, p.top, p.right, p.bottom};
}

RECT TFloatTabSheet::ClientRect() const {
  if (!dragable_ || floating_) return {0, 0, Width(), Height()};
  const PixelRect p = AreaBesideGrip(Edge(), Width(), Height());
  return {p.left, p.top, p.right, p.bottom};
}

void TFloatTabSheet::PaintGrip(HDC dc) {
  if (!dragable_ || floating_) return;
  const RECT strip = GripRect();
  FillRect(dc, &strip, GetSysColorBrush(COLOR_BTNFACE));
  const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF mark = GetSysColor(IsWindowEnabled(hwnd_) ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
  const int w = Width(), h = Height();
  for (int k = 0; k < 5; ++k)
    for (int block = 0; block < 2; ++block)
      for (int a = 0; a < 2; ++a)
        for (int c = 0; c < 2; ++c) {
          // Along the strip from the handle end, and across it.
          const int along = 4 * k + 2 * block + a, across = 3 * block + c;
          int x = 0, y = 0;
          switch (gripAlign_) {
            case TGripAlign::gaLeft: x = across; y = along; break;
            case TGripAlign::gaRight: x = w - 5 + across; y = h - 1 - along; break;
            case TGripAlign::gaTop: x = w - 1 - along; y = across; break;
            case TGripAlign::gaBottom: x = along; y = h - 5 + across; break;
          }
          SetPixel(dc, x, y, a == 0 && c == 0 ? light : mark);
        }
}

void TFloatTabSheet::OnMouseDown(int x, int y) {
  if (floating_ || !dragable_) return;
  if (pageControl_ && !pageControl_->CanFloatSheet()) return;
  if (!OnGripHandle(Edge(), Width(), Height(), x, y)) return;
  pressed_ = true;
  const RECT client = ClientRect();
  dragSize_ = {client.right, client.bottom};
  pressPoint_ = lastPoint_ = {x, y};
}

void TFloatTabSheet::OnMouseMove(int x, int y) {
  if (pressed_ && (std::abs(x - lastPoint_.x) > kDragSlop || std::abs(y - lastPoint_.y) > kDragSlop)) {
    pressed_ = false;
    dragging_ = true;
    DrawDragRect(lastPoint_);
  }
  if (!dragging_) return;
  DrawDragRect(lastPoint_);
  lastPoint_ = {x, y};
  DrawDragRect(lastPoint_);
}

void TFloatTabSheet::OnMouseUp() {
  if (dragging_) {
    dragging_ = false;
    DrawDragRect(lastPoint_);
    FloatSheet();
  } else if (pressed_) {
    pressed_ = false;
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
}

void TFloatTabSheet::DrawDragRect(POINT point) {
  HWND desktop = GetDesktopWindow();
  HDC dc = GetWindowDC(desktop);
  if (!dc) {
    win::ShowPlain("Could not retreive Desktop Window device context.");
    return;
  }
  ClientToScreen(hwnd_, &point);
  floatRect_ = {point.x - pressPoint_.x, point.y - pressPoint_.y,
                point.x - pressPoint_.x + dragSize_.cx, point.y - pressPoint_.y + dragSize_.cy};
  DrawFocusRect(dc, &floatRect_);
  ReleaseDC(desktop, dc);
}

void TFloatTabSheet::FloatSheet() {
  TFloatPageControl* control = pageControl_;
  if (!control || !control->CanFloatSheet()) return;
  if (dragSize_.cx <= 0 || dragSize_.cy <= 0) {
    // Torn off without the mouse: as large as it is, where it is.
    const RECT client = ClientRect();
    dragSize_ = {client.right, client.bottom};
    POINT origin = {0, 0};
    ClientToScreen(hwnd_, &origin);
    floatRect_ = {origin.x, origin.y, origin.x + dragSize_.cx, origin.y + dragSize_.cy};
  }
  dockTarget_ = control;
  control->floating_.push_back(this);
  SetPageControl(nullptr);
  floating_ = true;
  control->SelectAdjacentPage(true);
  SendMessageA(control->Handle(), kSheetFloated, 0, reinterpret_cast<LPARAM>(this));
  if (!floatingForm_) floatingForm_ = std::make_unique<TFloatingForm>(*this, dragSize_.cx, dragSize_.cy);
  HWND form = floatingForm_->Handle();
  SetWindowPos(form, nullptr, floatRect_.left, floatRect_.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (OnFloatTabSheet) OnFloatTabSheet(*this);
  SetParent(hwnd_, form);
  RECT client;
  GetClientRect(form, &client);
  MoveWindow(hwnd_, 0, 0, client.right, client.bottom, FALSE);
  ShowWindow(form, SW_SHOW);
  ShowWindow(hwnd_, SW_SHOW);
  InvalidateRect(hwnd_, nullptr, TRUE);
  dragSize_ = {};
}

void TFloatTabSheet::DockSheet() {
  if (!floating_) return;
  if (floatingForm_) ShowWindow(floatingForm_->Handle(), SW_HIDE);
  floating_ = false;
  TFloatPageControl* target = dockTarget_;
  if (target) {
    auto& floating = target->floating_;
    floating.erase(std::remove(floating.begin(), floating.end(), this), floating.end());
  }
  if (target && target->Handle()) {
    SetPageControl(target);
    SendMessageA(target->Handle(), kSheetDocked, 0, reinterpret_cast<LPARAM>(this));
    target->SetActivePage(this);
  }
  dockTarget_ = nullptr;
  if (OnDockTabSheet) OnDockTabSheet(*this);
}

void TFloatTabSheet::CloseFloatingForm() { floatingForm_.reset(); }

LRESULT TFloatTabSheet::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_DRAWITEM: {
      // The controls on a page talk to the window that holds the page control.
      TFloatPageControl* control = pageControl_ ? pageControl_ : dockTarget_;
      HWND owner = control && control->Handle() ? GetParent(control->Handle()) : nullptr;
      if (owner) return SendMessageA(owner, msg, wParam, lParam);
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      PaintGrip(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:  // a picture of the sheet (PrintWindow, animations)
      PaintGrip(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      SetCapture(hwnd_);
      OnMouseDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_LBUTTONUP:
      OnMouseUp();
      if (hwnd_ && GetCapture() == hwnd_) ReleaseCapture();
      return 0;
    case WM_CAPTURECHANGED:
      if (dragging_) DrawDragRect(lastPoint_);  // the drag is over without a float
      pressed_ = dragging_ = false;
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK TFloatTabSheet::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<TFloatTabSheet*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TFloatTabSheet*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
  LRESULT result = 0;
  bool handled = false;
  win::App().Guard([&] {
    result = self->HandleMessage(msg, wParam, lParam);
    handled = true;
  });
  return handled ? result : 0;
}

}  // namespace vk::widgets
