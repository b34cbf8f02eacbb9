#include "widgets/float_pages.h"

#include <windowsx.h>

#include <string>
#include <vector>

#include "win/application.h"

namespace vk::widgets {
namespace {

constexpr char kTabClass[] = "VaultkinFloatTabs";
constexpr char kAccessError[] = "TabControl Zugriffsfehler";
constexpr int kTextBuffer = 4096;

// The tab control's own class, without redrawing on every size change and with
// double clicks.
void RegisterTabClass() {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExA(GetModuleHandleA(nullptr), kTabClass, &wc)) return;
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TAB_CLASSES};
  InitCommonControlsEx(&classes);
  GetClassInfoExA(nullptr, WC_TABCONTROLA, &wc);
  wc.cbSize = sizeof wc;
  wc.style = (wc.style & ~(CS_HREDRAW | CS_VREDRAW)) | CS_DBLCLKS;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kTabClass;
  RegisterClassExA(&wc);
}

}  // namespace

// ---------------------------------------------------------------------------------
// TTabStrings

HWND TTabStrings::Tabs() const { return owner_.Handle(); }

int TTabStrings::Count() const {
  return Tabs() ? static_cast<int>(SendMessageA(Tabs(), TCM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string TTabStrings::Get(int index) const {
  char buffer[kTextBuffer] = {};
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  item.pszText = buffer;
  item.cchTextMax = sizeof buffer;
  if (!SendMessageA(Tabs(), TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item)))
    throw EListError(kAccessError);
  std::string text = item.pszText ? item.pszText : "";
  // The room made for the picture is not part of the caption.
  if (owner_.PictureBlanks(Image(index)) > 0) text.erase(0, text.find_first_not_of(' '));
  return text;
}

void* TTabStrings::Object(int index) const {
  TCITEMA item = {};
  item.mask = TCIF_PARAM;
  if (!SendMessageA(Tabs(), TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item)))
    throw EListError(kAccessError);
  return reinterpret_cast<void*>(item.lParam);
}

int TTabStrings::Image(int index) const {
  TCITEMA item = {};
  item.mask = TCIF_IMAGE;
  if (!SendMessageA(Tabs(), TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item)))
    throw EListError(kAccessError);
  return item.iImage;
}

void TTabStrings::Put(int index, const std::string& text) {
  const std::string shown = std::string(owner_.PictureBlanks(Image(index)), ' ') + text;
  TCITEMA item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>(shown.c_str());
  if (!SendMessageA(Tabs(), TCM_SETITEMA, index, reinterpret_cast<LPARAM>(&item)))
    throw EListError(kAccessError);
  Changed();
}

void TTabStrings::SetImage(int index, int image) {
  const std::string text = Get(index);
  TCITEMA item = {};
  item.mask = TCIF_IMAGE;
  item.iImage = image;
  if (!SendMessageA(Tabs(), TCM_SETITEMA, index, reinterpret_cast<LPARAM>(&item)))
    throw EListError(kAccessError);
  Put(index, text);
}

void TTabStrings::Insert(int index, const std::string& text, void* object) {
  TCITEMA item = {};
  item.mask = TCIF_TEXT | TCIF_PARAM | TCIF_IMAGE;
  item.pszText = const_cast<char*>(text.c_str());
  item.lParam = reinterpret_cast<LPARAM>(object);
  item.iImage = -1;
  if (SendMessageA(Tabs(), TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item)) < 0)
    throw EListError(kAccessError);
  Changed();
}

void TTabStrings::Delete(int index) {
  if (!SendMessageA(Tabs(), TCM_DELETEITEM, index, 0)) throw EListError(kAccessError);
  Changed();
}

void TTabStrings::Clear() {
  if (!SendMessageA(Tabs(), TCM_DELETEALLITEMS, 0, 0)) throw EListError(kAccessError);
  Changed();
}

void TTabStrings::Move(int from, int to) {
  if (from == to) return;
  const std::string text = Get(from);
  void* object = Object(from);
  const int image = Image(from);
  BeginUpdate();
  Delete(from);
  Insert(to, text, object);
  SetImage(to, image);
  EndUpdate();
}

void TTabStrings::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) Changed();
}

void TTabStrings::Changed() {
  if (updating_ == 0) owner_.TabsChanged();
}

// ---------------------------------------------------------------------------------
// TCustomFloatTabControl

TCustomFloatTabControl::TCustomFloatTabControl() = default;

TCustomFloatTabControl::~TCustomFloatTabControl() {
  if (parent_) RemoveWindowSubclass(parent_, ParentProc, reinterpret_cast<UINT_PTR>(this));
  if (hwnd_) {
    RemoveWindowSubclass(hwnd_, TabProc, reinterpret_cast<UINT_PTR>(this));
    DestroyWindow(hwnd_);
  }
}

DWORD TCustomFloatTabControl::WindowStyle() const {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TCS_OWNERDRAWFIXED;
  if (buttonStyle_) style |= TCS_BUTTONS;
  if (verticalTabs_) style |= TCS_VERTICAL;
  if (tabPosition_ == TFloatTabPosition::tpBottomRight) style |= TCS_BOTTOM;
  if (multiLine_) style |= TCS_MULTILINE;
  if (scrollOpposite_) style |= TCS_SCROLLOPPOSITE;
  if (tabStop_) style |= WS_TABSTOP;
  else style |= TCS_FOCUSNEVER;
  if (tabWidth_ != 0) style |= TCS_FIXEDWIDTH;
  return style;
}

HWND TCustomFloatTabControl::CreateTabWindow(HWND parent, int id, const RECT& bounds) {
  RegisterTabClass();
  HWND tabs = CreateWindowExA(0, kTabClass, "", WindowStyle(), bounds.left, bounds.top,
                              bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleA(nullptr), nullptr);
  if (!tabs) throw EListError(kAccessError);
  SetWindowSubclass(tabs, TabProc, reinterpret_cast<UINT_PTR>(this),
                    reinterpret_cast<DWORD_PTR>(this));
  return tabs;
}

void TCustomFloatTabControl::Create(HWND parent, int id, int x, int y, int width, int height) {
  parent_ = parent;
  hwnd_ = CreateTabWindow(parent, id, {x, y, x + width, y + height});
  SetWindowSubclass(parent, ParentProc, reinterpret_cast<UINT_PTR>(this),
                    reinterpret_cast<DWORD_PTR>(this));
  ApplyItemSize();
  Realign();
}

void TCustomFloatTabControl::RecreateWindow() {
  if (!hwnd_) return;
  struct Item {
    std::string text;
    void* object;
    int image;
  };
  std::vector<Item> items;
  for (int i = 0; i < tabs_.Count(); ++i)
    items.push_back({tabs_.Get(i), tabs_.Object(i), tabs_.Image(i)});
  const int selected = TabIndex();
  RECT bounds;
  GetWindowRect(hwnd_, &bounds);
  MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&bounds), 2);
  const auto font = SendMessageA(hwnd_, WM_GETFONT, 0, 0);
  const bool focused = GetFocus() == hwnd_;

  HWND old = hwnd_;
  HWND fresh = CreateTabWindow(parent_, GetDlgCtrlID(old), bounds);
  SetWindowPos(fresh, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RemoveWindowSubclass(old, TabProc, reinterpret_cast<UINT_PTR>(this));
  hwnd_ = fresh;
  DestroyWindow(old);
  hotTab_ = -1;
  SendMessageA(fresh, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
  ApplyItemSize();
  tabs_.BeginUpdate();
  for (size_t i = 0; i < items.size(); ++i) {
    tabs_.Insert(static_cast<int>(i), items[i].text, items[i].object);
    tabs_.SetImage(static_cast<int>(i), items[i].image);
  }
  tabs_.EndUpdate();
  SelectTab(selected);
  if (focused) SetFocus(fresh);
  if (IsWindow(parent_)) PostMessageA(fresh, kRefreshImages, 0, 0);
}

void TCustomFloatTabControl::ApplyItemSize() {
  if (hwnd_ && (tabWidth_ != 0 || tabHeight_ != 0))
    SendMessageA(hwnd_, TCM_SETITEMSIZE, 0, MAKELPARAM(tabWidth_, tabHeight_));
  TabsChanged();
}

void TCustomFloatTabControl::TabsChanged() {
  if (!hwnd_) return;
  Realign();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TCustomFloatTabControl::SetButtonStyle(bool on) {
  if (buttonStyle_ == on) return;
  buttonStyle_ = on;
  RecreateWindow();
}

void TCustomFloatTabControl::SetHotTrack(bool on) {
  hotTrack_ = on;
  if (!on && hotTab_ >= 0) InvalidateTab(hotTab_);
  hotTab_ = -1;
}

void TCustomFloatTabControl::SetMultiLine(bool on) {
  if (multiLine_ == on) return;
  multiLine_ = on;
  if (!on) scrollOpposite_ = false;
  RecreateWindow();
}

void TCustomFloatTabControl::SetScrollOpposite(bool on) {
  if (scrollOpposite_ == on) return;
  scrollOpposite_ = on;
  if (on) multiLine_ = true;
  RecreateWindow();
}

void TCustomFloatTabControl::SetTabHeight(int height) {
  if (height < 0 || height > 32767) throw EPropertyError(
      "Eigenschaft " + std::string(ClassName()) + " außerhalb des gültigen Bereichs");
  if (tabHeight_ == height) return;
  tabHeight_ = height;
  ApplyItemSize();
}

void TCustomFloatTabControl::SetTabWidth(int width) {
  if (width < 0 || width > 32767) throw EPropertyError(
      "Eigenschaft " + std::string(ClassName()) + " außerhalb des gültigen Bereichs");
  if (tabWidth_ == width) return;
  const bool styleChanges = (tabWidth_ == 0) != (width == 0);
  tabWidth_ = width;
  if (styleChanges) RecreateWindow();
  else ApplyItemSize();
}

void TCustomFloatTabControl::SetTabPosition(TFloatTabPosition position) {
  if (tabPosition_ == position) return;
  tabPosition_ = position;
  RecreateWindow();
}

void TCustomFloatTabControl::SetTextRotation(TTextRotation rotation) {
  if (textRotation_ == rotation) return;
  textRotation_ = rotation;
  RecreateWindow();
}

void TCustomFloatTabControl::SetVerticalTabs(bool on) {
  if (verticalTabs_ == on) return;
  verticalTabs_ = on;
  RecreateWindow();
}

void TCustomFloatTabControl::SetTabStop(bool on) {
  if (tabStop_ == on) return;
  tabStop_ = on;
  RecreateWindow();
}

void TCustomFloatTabControl::SetImages(HIMAGELIST images) {
  std::vector<std::string> texts;
  for (int i = 0; i < tabs_.Count(); ++i) texts.push_back(tabs_.Get(i));
  images_ = images;
  tabs_.BeginUpdate();
  for (size_t i = 0; i < texts.size(); ++i) tabs_.Put(static_cast<int>(i), texts[i]);
  tabs_.EndUpdate();
}


int TCustomFloatTabControl::TabIndex() const {
  return hwnd_ ? static_cast<int>(SendMessageA(hwnd_, TCM_GETCURSEL, 0, 0)) : -1;
}

void TCustomFloatTabControl::SelectTab(int index) {
  if (hwnd_) SendMessageA(hwnd_, TCM_SETCURSEL, index, 0);
}

RECT TCustomFloatTabControl::DisplayRect() const {
  RECT r = {};
  if (!hwnd_) return r;
  GetClientRect(hwnd_, &r);
  SendMessageA(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  r.top += 2;
  return r;
}

bool TCustomFloatTabControl::CanChange() {
  bool allow = true;
  if (OnChanging) OnChanging(*this, allow);
  return allow;
}

void TCustomFloatTabControl::Change() {
  if (OnChange) OnChange(*this);
}

void TCustomFloatTabControl::Realign() {}

bool TCustomFloatTabControl::TabMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void TCustomFloatTabControl::InvalidateTab(int index) {
  RECT r;
  if (hwnd_ && index >= 0 && SendMessageA(hwnd_, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)))
    InvalidateRect(hwnd_, &r, FALSE);
}

void TCustomFloatTabControl::TrackHot(int x, int y) {
  if (!hotTrack_) {
    hotTab_ = -1;
    return;
  }
  TCHITTESTINFO hit = {{x, y}, TCHT_ONITEM};
  const int tab = static_cast<int>(SendMessageA(hwnd_, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (tab == hotTab_) return;
  InvalidateTab(hotTab_);
  InvalidateTab(tab);
  hotTab_ = tab;
  TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, hwnd_, 0};
  TrackMouseEvent(&track);
}

LRESULT TCustomFloatTabControl::OnTabMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (TabMessage(msg, wParam, lParam, result)) return result;
  switch (msg) {
    case WM_MOUSEMOVE:
      TrackHot(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      break;
    case WM_MOUSELEAVE:
      InvalidateTab(hotTab_);
      hotTab_ = -1;
      break;
    case WM_SIZE: {
      result = DefSubclassProc(hwnd_, msg, wParam, lParam);
      Realign();
      return result;
    }
    case WM_SETFONT:
      // The room for the pictures is measured in blanks of the font.
      result = DefSubclassProc(hwnd_, msg, wParam, lParam);
      SetImages(images_);
      return result;
    case WM_LBUTTONDBLCLK:
      // The window takes double clicks; the second press of one still picks a tab.
      return DefSubclassProc(hwnd_, WM_LBUTTONDOWN, wParam, lParam);
    default:
      break;
  }
  return DefSubclassProc(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK TCustomFloatTabControl::TabProc(HWND hwnd, UINT msg, WPARAM wParam,
                                                 LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TCustomFloatTabControl*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, TabProc, reinterpret_cast<UINT_PTR>(self));
    if (self->hwnd_ == hwnd) self->hwnd_ = nullptr;
    return DefSubclassProc(hwnd, msg, wParam, lParam);
  }
  LRESULT result = 0;
  bool handled = false;
  win::App().Guard([&] {
    result = self->OnTabMessage(msg, wParam, lParam);
    handled = true;
  });
  return handled ? result : 0;
}

// The tab window tells its parent to draw a tab and that the selection changes; the
// control answers for itself.
LRESULT CALLBACK TCustomFloatTabControl::ParentProc(HWND hwnd, UINT msg, WPARAM wParam,
                                                    LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TCustomFloatTabControl*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, ParentProc, reinterpret_cast<UINT_PTR>(self));
    self->parent_ = nullptr;
    return DefSubclassProc(hwnd, msg, wParam, lParam);
  }
  if (self->hwnd_ && msg == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->hwndItem == self->hwnd_) {
      const int saved = SaveDC(item->hDC);
      win::App().Guard([&] { self->DrawTab(item->hDC, static_cast<int>(item->itemID), item->rcItem); });
      RestoreDC(item->hDC, saved);
      return TRUE;
    }
  }
  if (self->hwnd_ && msg == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->hwndFrom == self->hwnd_ && header->code == TCN_SELCHANGING) {
      bool allow = false;
      win::App().Guard([&] { allow = self->CanChange(); });
      return allow ? FALSE : TRUE;
    }
    if (header->hwndFrom == self->hwnd_ && header->code == TCN_SELCHANGE) {
      win::App().Guard([&] { self->Change(); });
      return 0;
    }
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace vk::widgets
