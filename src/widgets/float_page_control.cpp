#include "widgets/float_pages.h"

#include <algorithm>
#include <cstdio>

#include "win/application.h"

namespace vk::widgets {
namespace {

// Page controls alive on this thread, for Ctrl+Tab.
std::vector<TFloatPageControl*>& LiveControls() {
  static std::vector<TFloatPageControl*> controls;
  return controls;
}
HHOOK keyboardHook = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------
// TFloatPageControl

TFloatPageControl::TFloatPageControl() {
  if (LiveControls().empty() && !keyboardHook)
    keyboardHook = SetWindowsHookExA(WH_GETMESSAGE, KeyboardFilter, nullptr, GetCurrentThreadId());
  LiveControls().push_back(this);
}

TFloatPageControl::~TFloatPageControl() {
  for (TFloatTabSheet* page : pages_) {
    page->pageControl_ = nullptr;
    page->tabShown_ = false;
  }
  for (TFloatTabSheet* page : floating_) page->dockTarget_ = nullptr;
  auto& live = LiveControls();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  if (live.empty() && keyboardHook) {
    UnhookWindowsHookEx(keyboardHook);
    keyboardHook = nullptr;
  }
}

// Ctrl+Tab and Ctrl+Shift+Tab turn the pages wherever the focus is in the control;
// the dialog manager would take them for Tab otherwise.
LRESULT CALLBACK TFloatPageControl::KeyboardFilter(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_KEYDOWN &&
      msg->wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
    HWND focus = GetFocus();
    for (TFloatPageControl* control : LiveControls()) {
      bool inside = focus && focus == control->Handle();
      for (TFloatTabSheet* page : control->pages_)
        inside = inside || (focus && page->hwnd_ && (focus == page->hwnd_ || IsChild(page->hwnd_, focus)));
      if (!inside) continue;
      const bool forward = GetKeyState(VK_SHIFT) >= 0;
      win::App().Guard([&] { control->SelectAdjacentPage(forward); });
      msg->message = WM_NULL;
      break;
    }
  }
  return CallNextHookEx(keyboardHook, code, wParam, lParam);
}

void TFloatPageControl::SetActivePage(TFloatTabSheet* page) {
  if (page && page->pageControl_ != this) return;
  TFloatTabSheet* old = activePage_;
  HWND focus = GetFocus();
  const bool focusInOld = old && old->hwnd_ && focus && (focus == old->hwnd_ || IsChild(old->hwnd_, focus));
  activePage_ = page;
  if (page && page->hwnd_) {
    SetWindowPos(page->hwnd_, Handle(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(page->hwnd_, SW_SHOW);
  }
  if (old && old != page && old->hwnd_) ShowWindow(old->hwnd_, SW_HIDE);
  if (focusInOld && old != page) {
    HWND next = page && page->hwnd_ ? GetNextDlgTabItem(page->hwnd_, nullptr, FALSE) : nullptr;
    SetFocus(next && IsChild(page->hwnd_, next) ? next : Handle());
  }
  SelectTab(page ? page->VisibleTabIndex() : -1);
}

bool TFloatPageControl::CanFloatSheet() const { return pages_.size() != 1 || RemoveLastTab; }

TFloatTabSheet* TFloatPageControl::FindAdjacentPage(TFloatTabSheet* current, bool forward,
                                                    bool tabsOnly) const {
  const auto found = std::find(pages_.begin(), pages_.end(), current);
  const int index = found == pages_.end() ? -1 : static_cast<int>(found - pages_.begin());
  const int next = AdjacentPageIndex(PageCount(), index, forward, [&](int i) {
    return !tabsOnly || pages_[static_cast<size_t>(i)]->tabVisible_;
  });
  return next < 0 ? nullptr : pages_[static_cast<size_t>(next)];
}

void TFloatPageControl::SelectAdjacentPage(bool forward) {
  TFloatTabSheet* page = FindAdjacentPage(activePage_, forward, true);
  if (!page || page == activePage_ || !CanChange()) return;
  SelectTab(page->VisibleTabIndex());
  Change();
}

void TFloatPageControl::Change() {
  const int tab = TabIndex();
  SetActivePage(tab >= 0 ? static_cast<TFloatTabSheet*>(Tabs().Object(tab)) : nullptr);
  TCustomFloatTabControl::Change();
}

void TFloatPageControl::Realign() {
  HWND tabs = Handle();
  if (!tabs) return;
  RECT area = DisplayRect();
  // The tab window leaves the display area to the page shown there.
  RECT all;
  GetClientRect(tabs, &all);
  HRGN frame = CreateRectRgnIndirect(&all);
  HRGN hole = CreateRectRgnIndirect(&area);
  CombineRgn(frame, frame, hole, RGN_DIFF);
  DeleteObject(hole);
  SetWindowRgn(tabs, frame, TRUE);
  MapWindowPoints(tabs, GetParent(tabs), reinterpret_cast<POINT*>(&area), 2);
  for (TFloatTabSheet* page : pages_)
    if (page->hwnd_)
      SetWindowPos(page->hwnd_, nullptr, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TFloatPageControl::TabMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) {
  result = 0;
  switch (msg) {
    case kSheetDocked:
      SortDockedPages();
      RefreshImages();
      if (OnDockTabSheet) OnDockTabSheet(*this);
      return true;
    case kSheetFloated:
      if (OnFloatTabSheet) OnFloatTabSheet(*this);
      return true;
    case kRefreshImages:
      RefreshImages();
      Realign();
      return true;
    default:
      return false;
  }
}

void TFloatPageControl::AttachSheet(TFloatTabSheet* sheet) {
  pages_.push_back(sheet);
  sheet->pageControl_ = this;
  if (sheet->tabVisible_) sheet->ShowTab();
  Realign();
}

void TFloatPageControl::DetachSheet(TFloatTabSheet* sheet) {
  if (activePage_ == sheet) SetActivePage(nullptr);
  if (sheet->tabShown_) {
    const int tab = sheet->VisibleTabIndex();
    sheet->tabShown_ = false;
    if (Handle()) Tabs().Delete(tab);  // a destroyed tab window took its tabs along
  }
  sheet->pageControl_ = nullptr;
  pages_.erase(std::remove(pages_.begin(), pages_.end(), sheet), pages_.end());
  if (sheet->hwnd_) ShowWindow(sheet->hwnd_, SW_HIDE);
  SelectTab(activePage_ ? activePage_->VisibleTabIndex() : -1);
}

void TFloatPageControl::MovePage(TFloatTabSheet* sheet, int index) {
  const int last = PageCount() - 1;
  if (index < 0 || index > last) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "%d ist ein ungültiger Wert für PageIndex. PageIndex muß zwischen 0 und %d liegen",
                  index, last);
    throw EPropertyError(message);
  }
  const int from = sheet->PageIndex();
  if (from == index) return;
  const int oldTab = sheet->VisibleTabIndex();
  pages_.erase(pages_.begin() + from);
  pages_.insert(pages_.begin() + index, sheet);
  if (sheet->tabShown_) Tabs().Move(oldTab, sheet->VisibleTabIndex());
  SelectTab(activePage_ ? activePage_->VisibleTabIndex() : -1);
}

void TFloatPageControl::SortDockedPages() {
  std::vector<int> keys;
  for (TFloatTabSheet* page : pages_) keys.push_back(page->StaticPageIndex);
  const std::vector<TFloatTabSheet*> before = pages_;
  const std::vector<int> order = DockedPageOrder(keys);
  for (size_t i = 0; i < order.size(); ++i)
    MovePage(before[static_cast<size_t>(order[i])], static_cast<int>(i));
}

void TFloatPageControl::RefreshImages() {
  HWND tabs = Handle();
  if (!tabs) return;
  SendMessageA(tabs, WM_SETREDRAW, FALSE, 0);
  for (TFloatTabSheet* page : pages_)
    if (page->tabShown_) Tabs().SetImage(page->VisibleTabIndex(), page->imageIndex_);
  SendMessageA(tabs, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(tabs, nullptr, TRUE);
}

}  // namespace vk::widgets
