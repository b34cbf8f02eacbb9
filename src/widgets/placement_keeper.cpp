#include "widgets/placement_keeper.h"

#include <commctrl.h>

#include <optional>

#include "core/placement_text.h"
#include "widgets/placement_storage.h"
#include "win/application.h"
#include "win/form.h"

namespace vk::widgets {
namespace {

constexpr UINT_PTR kSubclassId = 0x504C;  // one keeper per window
constexpr char kFlags[] = "Flags", kShowCmd[] = "ShowCmd", kMinMaxPos[] = "MinMaxPos",
               kNormPos[] = "NormPos", kActiveControl[] = "ActiveControl", kVisible[] = "Visible";

LONG_PTR Style(HWND w) { return GetWindowLongPtrA(w, GWL_STYLE); }
LONG_PTR ExStyle(HWND w) { return GetWindowLongPtrA(w, GWL_EXSTYLE); }

bool IsMainWindow(HWND window) {
  win::Form* main = win::App().MainForm();
  return main && main->Handle() == window;
}

bool IsMdiFrame(HWND window) { return FindWindowExA(window, nullptr, "MDIClient", nullptr); }

bool IsSizeable(HWND window) { return Style(window) & WS_THICKFRAME; }

WINDOWPLACEMENT PlacementOf(HWND window) {
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof wp;
  GetWindowPlacement(window, &wp);
  return wp;
}

RECT WorkArea(HMONITOR monitor, RECT* whole = nullptr) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  GetMonitorInfoA(monitor, &info);
  if (whole) *whole = info.rcMonitor;
  return info.rcWork;
}

PlacementRect FromRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT ToRect(const PlacementRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// A stored normal rectangle that no monitor shows any more (a screen that was taken
// away, a damaged value) is moved into the nearest monitor's work area. The
// placement's rectangle is in work-area coordinates unless the window is a tool window.
void KeepOnScreen(HWND window, RECT& normal) {
  POINT offset = {0, 0};
  if (!(ExStyle(window) & WS_EX_TOOLWINDOW)) {
    RECT monitor;
    RECT work = WorkArea(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    offset = {work.left - monitor.left, work.top - monitor.top};
  }
  RECT screen = normal;
  OffsetRect(&screen, offset.x, offset.y);
  if (MonitorFromRect(&screen, MONITOR_DEFAULTTONULL)) return;
  RECT nearest = WorkArea(MonitorFromRect(&screen, MONITOR_DEFAULTTONEAREST));
  screen = ToRect(MoveInto(FromRect(screen), FromRect(nearest)));
  OffsetRect(&screen, -offset.x, -offset.y);
  normal = screen;
}

enum class State { Normal, Minimized, Maximized };

// The window is about to be shown (or is shown): the state takes effect right after.
void SetWindowState(HWND window, State state) {
  WPARAM command = state == State::Minimized   ? SC_MINIMIZE
                   : state == State::Maximized ? SC_MAXIMIZE
                   : (IsIconic(window) || IsZoomed(window)) ? SC_RESTORE
                                                            : 0;
  if (command) PostMessageA(window, WM_SYSCOMMAND, command, 0);
}

}  // namespace

bool TWinMinMaxInfo::AllZero() const { return *this == TWinMinMaxInfo(); }

bool TWinMinMaxInfo::operator==(const TWinMinMaxInfo& o) const {
  return MaxPosLeft == o.MaxPosLeft && MaxPosTop == o.MaxPosTop && MaxSizeHeight == o.MaxSizeHeight &&
         MaxSizeWidth == o.MaxSizeWidth && MaxTrackHeight == o.MaxTrackHeight &&
         MaxTrackWidth == o.MaxTrackWidth && MinTrackHeight == o.MinTrackHeight &&
         MinTrackWidth == o.MinTrackWidth;
}

void WritePlacementValues(HWND window, TPlacementStorage& storage, const std::string& section) {
  WINDOWPLACEMENT wp = PlacementOf(window);
  if (IsMainWindow(window) && IsIconic(window)) wp.showCmd = SW_SHOWMINIMIZED;
  if ((ExStyle(window) & WS_EX_MDICHILD) && IsIconic(window)) wp.flags |= WPF_SETMINPOSITION;
  storage.WriteString(section, kFlags, std::to_string(wp.flags));
  storage.WriteString(section, kShowCmd, std::to_string(wp.showCmd));
  storage.WriteString(section, kMinMaxPos,
                      FormatFourInts({wp.ptMinPosition.x, wp.ptMinPosition.y, wp.ptMaxPosition.x,
                                      wp.ptMaxPosition.y}));
  const RECT& r = wp.rcNormalPosition;
  storage.WriteString(section, kNormPos, FormatFourInts({r.left, r.top, r.right, r.bottom}));
}

void ReadPlacementValues(HWND window, TPlacementStorage& storage, const std::string& section,
                         bool loadState, bool loadPosition) {
  if (!loadState && !loadPosition) return;
  WINDOWPLACEMENT wp = PlacementOf(window);
  wp.showCmd = SW_HIDE;  // applying the placement must not show the window
  if (loadPosition) {
    // Only the flags that say which stored positions count; anything else in a damaged
    // value (an asynchronous placement, say) is dropped.
    wp.flags = PlacementIntOr(storage.ReadString(section, kFlags), static_cast<int32_t>(wp.flags)) &
               (WPF_SETMINPOSITION | WPF_RESTORETOMAXIMIZED);
    const std::string minMax = storage.ReadString(section, kMinMaxPos);
    const std::string normal = storage.ReadString(section, kNormPos);
    const RECT current = wp.rcNormalPosition;
    if (!minMax.empty()) {
      FourInts v = ParseFourInts(minMax, {0, 0, 0, 0});
      wp.ptMinPosition = {v[0], v[1]};
      wp.ptMaxPosition = {v[2], v[3]};
    }
    if (!normal.empty()) {
      FourInts v = ParseFourInts(normal, {current.left, current.top, current.right, current.bottom});
      wp.rcNormalPosition = {v[0], v[1], v[2], v[3]};
    }
    if (!minMax.empty() || !normal.empty()) {
      RECT& r = wp.rcNormalPosition;
      if (!IsSizeable(window)) {  // a fixed-size window only moves
        r.right = r.left + (current.right - current.left);
        r.bottom = r.top + (current.bottom - current.top);
      }
      if (r.right > r.left) {
        KeepOnScreen(window, r);
        SetWindowPlacement(window, &wp);
      }
    }
  }
  if (loadState) {
    State state = IsMainWindow(window) && IsMdiFrame(window) ? State::Maximized : State::Normal;
    switch (PlacementIntOr(storage.ReadString(section, kShowCmd), 0)) {
      case SW_SHOWNORMAL: case SW_SHOW: case SW_RESTORE: state = State::Normal; break;
      case SW_SHOWMINIMIZED: case SW_MINIMIZE: state = State::Minimized; break;
      case SW_SHOWMAXIMIZED: state = State::Maximized; break;
      default: break;
    }
    // A window that may not be resized is not maximized either.
    if (state == State::Maximized && !(Style(window) & WS_MAXIMIZEBOX)) state = State::Normal;
    SetWindowState(window, state);
    // The whole program starts minimized: nothing to draw now.
    if (state == State::Minimized && IsMainWindow(window)) return;
  }
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

TPlacementKeeper::TPlacementKeeper(HWND owner) : window_(owner) {
  if (!window_) return;
  Options.fpState = Options.fpPosition = true;
  hadMaximize_ = Style(window_) & WS_MAXIMIZEBOX;
  SetWindowSubclass(window_, &TPlacementKeeper::SubclassProc, kSubclassId,
                    reinterpret_cast<DWORD_PTR>(this));
}

TPlacementKeeper::~TPlacementKeeper() {
  if (!window_) return;
  StoreOnDestroy();
  Detach();
}

void TPlacementKeeper::Detach() {
  RemoveWindowSubclass(window_, &TPlacementKeeper::SubclassProc, kSubclassId);
  window_ = nullptr;
}

std::string TPlacementKeeper::StorageName() const {
  if (!IniFileName.empty()) return IniFileName;
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name = path;
  name = name.substr(name.find_last_of("\\/:") + 1);
  size_t dot = name.find_last_of('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  return UseRegistry ? "Software\\" + stem : stem + ".INI";
}

std::string TPlacementKeeper::SectionName() const {
  if (!IniSection.empty() || !window_) return IniSection;
  char name[256] = {};
  GetClassNameA(window_, name, sizeof name);
  return name;
}

std::unique_ptr<TPlacementStorage> TPlacementKeeper::OpenStorage() const {
  if (UseRegistry) return std::make_unique<TRegistryPlacementStorage>(StorageName());
  return std::make_unique<TIniPlacementStorage>(StorageName());
}

void TPlacementKeeper::LoadPlacement() {
  stored_ = false;
  {
    std::unique_ptr<TPlacementStorage> storage = OpenStorage();
    const std::string section = SectionName();
    ReadPlacementValues(window_, *storage, section, Options.fpState, Options.fpPosition);
    loaded_ = true;
    if (OnRestorePlacement) OnRestorePlacement();
    if (Options.fpActiveControl) {
      std::optional<int32_t> id = ParsePlacementInt(storage->ReadString(section, kActiveControl));
      HWND control = id ? GetDlgItem(window_, *id) : nullptr;
      // The window itself is not visible yet (this runs as it is being shown), so only
      // the control's own style says whether it will be.
      const bool shown = control && (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE);
      if (shown && IsWindowEnabled(control)) SetFocus(control);
    }
  }
  AdjustMaxPosition();
}

void TPlacementKeeper::StorePlacement() {
  if (!loaded_ && Active) return;
  std::unique_ptr<TPlacementStorage> storage = OpenStorage();
  const std::string section = SectionName();
  WritePlacementValues(window_, *storage, section);
  HWND focus = GetFocus();
  if (Options.fpActiveControl && focus && IsChild(window_, focus))
    storage->WriteString(section, kActiveControl, std::to_string(GetDlgCtrlID(focus)));
  storage->WriteString(section, kVisible, destroying_ ? "1" : "0");
  if (OnSavePlacement) OnSavePlacement();
  stored_ = true;
}

void TPlacementKeeper::StoreOnDestroy() {
  if (!Active || stored_) return;
  destroying_ = true;
  win::App().Guard([this] { StorePlacement(); });
  destroying_ = false;
}

void TPlacementKeeper::SetMinMaxInfo(const TWinMinMaxInfo& info) {
  if (info == minMaxInfo_) return;
  minMaxInfo_ = info;
  AdjustMaxPosition();
}

void TPlacementKeeper::SetPreventResize(bool on) {
  if (on == preventResize_) return;
  preventResize_ = on;
  if (!window_) return;
  AdjustMaxPosition();
  ApplyPreventResize();
}

void TPlacementKeeper::ApplyPreventResize() {
  if (preventResize_) hadMaximize_ = Style(window_) & WS_MAXIMIZEBOX;
  const bool wasActive = Active;
  Active = false;
  LONG_PTR style = Style(window_);
  const bool dialogBorder = ExStyle(window_) & WS_EX_DLGMODALFRAME;
  if (!preventResize_ && hadMaximize_ && !dialogBorder)
    style |= WS_MAXIMIZEBOX;
  else
    style &= ~static_cast<LONG_PTR>(WS_MAXIMIZEBOX);
  SetWindowLongPtrA(window_, GWL_STYLE, style);
  SetWindowPos(window_, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Active = wasActive;
}

void TPlacementKeeper::AdjustMaxPosition() {
  if (!window_ || preventResize_ || !minMaxInfo_.AllZero()) return;
  WINDOWPLACEMENT wp = PlacementOf(window_);
  if (!IsWindowVisible(window_)) wp.showCmd = SW_HIDE;
  const LONG_PTR style = Style(window_);
  int metric = -1;
  if (style & WS_THICKFRAME)
    metric = SM_CXFRAME;
  else if (!(ExStyle(window_) & WS_EX_TOOLWINDOW) && (ExStyle(window_) & WS_EX_DLGMODALFRAME))
    metric = SM_CXDLGFRAME;
  else if (style & (WS_BORDER | WS_DLGFRAME))
    metric = SM_CXBORDER;
  wp.ptMaxPosition = metric < 0 ? POINT{0, 0}
                                : POINT{-GetSystemMetrics(metric), -GetSystemMetrics(metric + 1)};
  SetWindowPlacement(window_, &wp);
}

void TPlacementKeeper::ApplyHook(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (preventResize_) {
    if (msg == WM_GETMINMAXINFO) {
      RECT r;
      GetWindowRect(window_, &r);
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = info->ptMaxTrackSize = {r.right - r.left, r.bottom - r.top};
      result = 1;
    } else if (msg == WM_NCHITTEST && result >= HTLEFT && result <= HTBOTTOMRIGHT) {
      result = HTNOWHERE;
    } else if (msg == WM_INITMENUPOPUP && HIWORD(lParam)) {
      HMENU menu = reinterpret_cast<HMENU>(wParam);
      EnableMenuItem(menu, SC_SIZE, MF_BYCOMMAND | MF_GRAYED);
      EnableMenuItem(menu, SC_MAXIMIZE, MF_BYCOMMAND | MF_GRAYED);
      result = 1;
    }
  } else if (msg == WM_GETMINMAXINFO && !minMaxInfo_.AllZero()) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    auto set = [](LONG& field, int32_t value) {
      if (value) field = value;
    };
    const TWinMinMaxInfo& m = minMaxInfo_;
    set(info->ptMaxPosition.x, m.MaxPosLeft);
    set(info->ptMaxPosition.y, m.MaxPosTop);
    set(info->ptMaxSize.y, m.MaxSizeHeight);
    set(info->ptMaxSize.x, m.MaxSizeWidth);
    set(info->ptMaxTrackSize.y, m.MaxTrackHeight);
    set(info->ptMaxTrackSize.x, m.MaxTrackWidth);
    set(info->ptMinTrackSize.y, m.MinTrackHeight);
    set(info->ptMinTrackSize.x, m.MinTrackWidth);
    result = 1;
  }
}

LRESULT TPlacementKeeper::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SHOWWINDOW:
      // Shown by the program (not by its owner coming back from minimized).
      if (wParam && lParam == 0 && Active) win::App().Guard([this] { LoadPlacement(); });
      break;
    case WM_CLOSE:
      if (Active) win::App().Guard([this] { StorePlacement(); });
      break;
    case WM_DESTROY:
      StoreOnDestroy();
      break;
    case WM_NCDESTROY: {
      HWND window = window_;
      Detach();
      return DefSubclassProc(window, msg, wParam, lParam);
    }
  }
  LRESULT result = DefSubclassProc(window_, msg, wParam, lParam);
  ApplyHook(msg, wParam, lParam, result);
  return result;
}

LRESULT CALLBACK TPlacementKeeper::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                                UINT_PTR, DWORD_PTR data) {
  return reinterpret_cast<TPlacementKeeper*>(data)->HandleMessage(msg, wParam, lParam);
}

}  // namespace vk::widgets
