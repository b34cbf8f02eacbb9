#include "widgets/placement_keeper.h"

#include <gtest/gtest.h>

#include <string>

#include "tasks_test_util.h"
#include "win/form.h"

namespace vk::widgets {
namespace {

constexpr char kKey[] = "Software\\Morrow Tools\\VaultkinPlacementTest";
constexpr char kSection[] = "Software\\Morrow Tools\\VaultkinPlacementTest\\Pos";
constexpr DWORD kFixed = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kSizeable = WS_OVERLAPPEDWINDOW;

// Handles what is pending; a quit request (a closed main form) is dropped, since the
// test runner goes on.
void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

class PlainForm : public win::Form {
 public:
  explicit PlainForm(DWORD style) { CreateForm("Platzierung", 300, 200, style, 0); }
};

// A window with its keeper, set up as the main window's: registry, one section.
struct KeptWindow {
  PlainForm form;
  TPlacementKeeper keeper;  // goes before its window, as a form's member does
  explicit KeptWindow(DWORD style = kFixed) : form(style), keeper(form.Handle()) {
    keeper.IniFileName = std::string("\\") + kKey;
    keeper.IniSection = "Pos";
    keeper.UseRegistry = true;
  }
  HWND Handle() const { return form.Handle(); }
  void Show() {
    form.Show();
    Pump();
  }
  void Close() {
    SendMessageA(Handle(), WM_CLOSE, 0, 0);
    Pump();
  }
  RECT Rect() const {
    RECT r;
    GetWindowRect(Handle(), &r);
    return r;
  }
};

std::string Stored(const char* name) {
  char data[256] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_CURRENT_USER, kSection, name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return "<none>";
  return data;
}

void Store(const char* name, const std::string& text) {
  RegSetKeyValueA(HKEY_CURRENT_USER, kSection, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>(text.size() + 1));
}

bool KeyExists(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class Placement : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
};

TEST_F(Placement, FirstRunCreatesTheKeyThenCloseWritesEveryValue) {
  KeptWindow w;
  RECT designed = w.Rect();
  w.Show();
  EXPECT_TRUE(KeyExists(kKey));
  EXPECT_FALSE(KeyExists(kSection));
  RECT shown = w.Rect();
  EXPECT_EQ(shown.left, designed.left);
  EXPECT_EQ(shown.top, designed.top);
  w.Close();
  EXPECT_EQ(Stored("ShowCmd"), "1");
  EXPECT_EQ(Stored("Visible"), "0");
  EXPECT_NE(Stored("Flags"), "<none>");
  EXPECT_NE(Stored("MinMaxPos"), "<none>");
  EXPECT_EQ(Stored("NormPos"), std::to_string(shown.left) + "," + std::to_string(shown.top) + "," +
                                   std::to_string(shown.right) + "," + std::to_string(shown.bottom));
  EXPECT_EQ(Stored("ActiveControl"), "<none>");
}

TEST_F(Placement, NeverShownWritesNothingAndDestroyWithoutCloseStoresVisible) {
  { KeptWindow w; }
  EXPECT_FALSE(KeyExists(kKey));
  {
    KeptWindow w;
    w.Show();
  }
  EXPECT_EQ(Stored("Visible"), "1");
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  {
    KeptWindow w;
    w.Show();
    w.Close();
  }
  EXPECT_EQ(Stored("Visible"), "0");  // closed: the destruction stores no more
}

TEST_F(Placement, MovedWindowReopensWhereItWasAndAFixedOneKeepsItsSize) {
  {
    KeptWindow w;
    w.Show();
    SetWindowPos(w.Handle(), nullptr, 321, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    w.Close();
  }
  KeptWindow w;
  RECT before = w.Rect();
  w.Show();
  EXPECT_EQ(w.Rect().left, 321);
  EXPECT_EQ(w.Rect().top, 234);
  w.Close();
  // A stored size that is not the window's: only the place is taken.
  Store("NormPos", "40,50,41,52");
  w.Show();
  RECT r = w.Rect();
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.right - r.left, before.right - before.left);
  EXPECT_EQ(r.bottom - r.top, before.bottom - before.top);
}

TEST_F(Placement, StoredStateComesBackOnShowing) {
  {
    KeptWindow w;
    w.Show();
    ShowWindow(w.Handle(), SW_MINIMIZE);
    w.Close();
  }
  EXPECT_EQ(Stored("ShowCmd"), "2");
  {
    KeptWindow w;
    w.Show();
    EXPECT_TRUE(IsIconic(w.Handle()));
    ShowWindow(w.Handle(), SW_RESTORE);
  }
  Store("ShowCmd", "3");
  {
    KeptWindow w(kSizeable);
    w.Show();
    EXPECT_TRUE(IsZoomed(w.Handle()));
  }
  Store("ShowCmd", "3");
  KeptWindow w(kSizeable);
  w.keeper.SetPreventResize(true);
  w.Show();
  EXPECT_FALSE(IsZoomed(w.Handle())) << "a window that may not be resized is not maximized";
}

TEST_F(Placement, DamagedMissingAndOffScreenValuesFallBack) {
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  struct Case {
    const char* normPos;
    DWORD style;
    int left, top;  // -1: where the window was
  };
  const Case cases[] = {
      {"10 20", kFixed, 10, 20},
      {"30,x,,", kFixed, 30, -1},
      {"Unsinn", kFixed, -1, -1},
      {"0x20,0x10,0,0", kFixed, 32, 16},
      {"300,300,100,400", kSizeable, -1, -1},  // right not beyond left: nothing applied
  };
  for (const Case& c : cases) {
    Store("NormPos", c.normPos);
    Store("Flags", "kaputt");
    Store("ShowCmd", "0x");
    KeptWindow w(c.style);
    RECT before = w.Rect();
    w.Show();
    RECT r = w.Rect();
    EXPECT_EQ(r.left, c.left < 0 ? before.left : c.left) << c.normPos;
    EXPECT_EQ(r.top, c.top < 0 ? before.top : c.top) << c.normPos;
    EXPECT_FALSE(IsIconic(w.Handle()) || IsZoomed(w.Handle())) << c.normPos;
  }
  for (const char* distant : {"5000,4000,5400,4300", "-32000,-32000,-31600,-31700", "-700,100,-310,330"}) {
    Store("NormPos", distant);
    KeptWindow w;
    w.Show();
    RECT r = w.Rect(), inside;
    EXPECT_TRUE(IntersectRect(&inside, &r, &screen)) << distant;
    EXPECT_TRUE(EqualRect(&inside, &r)) << distant << ": moved wholly onto the screen";
  }
  // Only the minimized and maximized positions: the normal rectangle stays.
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  Store("MinMaxPos", "1,2,3,4");
  Store("Flags", "1");  // the minimized position counts
  KeptWindow w;
  RECT before = w.Rect();
  w.Show();
  EXPECT_EQ(w.Rect().left, before.left);
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof wp;
  GetWindowPlacement(w.Handle(), &wp);
  EXPECT_EQ(wp.ptMinPosition.x, 1);
  EXPECT_EQ(wp.ptMinPosition.y, 2);
}

TEST_F(Placement, ValueOfTheWrongTypeIsReportedAndTheWindowShowsAnyway) {
  const DWORD flags = 0;
  RegSetKeyValueA(HKEY_CURRENT_USER, kSection, "Flags", REG_DWORD, &flags, sizeof flags);
  tasktest::ErrorBoxes errors;
  KeptWindow w;
  w.Show();
  EXPECT_TRUE(IsWindowVisible(w.Handle()));
  ASSERT_EQ(errors.Texts().size(), 1u);
  EXPECT_EQ(errors.Texts()[0], "Ungültiger Datentyp für 'Flags'");
}

TEST_F(Placement, EventsActiveSwitchAndIniFile) {
  tasktest::TempDir dir("placement");
  KeptWindow w;
  int saved = 0, restored = 0;
  w.keeper.OnSavePlacement = [&] { ++saved; };
  w.keeper.OnRestorePlacement = [&] { ++restored; };
  w.keeper.UseRegistry = false;
  w.keeper.IniFileName = dir / "fenster.ini";
  w.Show();
  SetWindowPos(w.Handle(), nullptr, 123, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  w.Close();
  EXPECT_EQ(restored, 1);
  EXPECT_EQ(saved, 1);
  char text[64] = {};
  GetPrivateProfileStringA("Pos", "NormPos", "", text, sizeof text, (dir / "fenster.ini").c_str());
  EXPECT_EQ(std::string(text).substr(0, 7), "123,45,");
  w.keeper.Active = false;
  SetWindowPos(w.Handle(), nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  w.Show();
  w.Close();
  EXPECT_EQ(w.Rect().left, 10);
  EXPECT_EQ(restored, 1);
  EXPECT_EQ(saved, 1);
  EXPECT_FALSE(KeyExists(kKey));
}

TEST_F(Placement, TheFocusedControlComesBackWhenItCanTakeTheFocus) {
  // The stored control is the second box; a hidden or disabled one is passed over.
  const DWORD styles[] = {WS_VISIBLE, 0, WS_VISIBLE | WS_DISABLED};
  for (DWORD style : styles) {
    SCOPED_TRACE(style);
    KeptWindow w;
    w.keeper.Options.fpActiveControl = true;
    HWND boxes[2];
    for (int i = 0; i < 2; ++i)
      boxes[i] = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_TABSTOP | (i == 0 ? WS_VISIBLE : style),
                                 10, 10 + 30 * i, 100, 21, w.Handle(),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(11 + i)), nullptr, nullptr);
    w.Show();
    SetFocus(boxes[0]);
    w.Close();
    EXPECT_EQ(Stored("ActiveControl"), "11");
    Store("ActiveControl", "12");
    w.Show();
    EXPECT_EQ(GetFocus() == boxes[1], style == WS_VISIBLE);
    w.Close();
  }
}

TEST_F(Placement, DefaultNamesComeFromTheProgramAndTheWindowClass) {
  PlainForm form(kFixed);
  TPlacementKeeper keeper(form.Handle());
  EXPECT_TRUE(keeper.Options.fpState && keeper.Options.fpPosition && !keeper.Options.fpActiveControl);
  EXPECT_EQ(keeper.SectionName(), "VaultkinForm");
  EXPECT_EQ(keeper.StorageName(), "win_tests.INI");
  keeper.UseRegistry = true;
  EXPECT_EQ(keeper.StorageName(), "Software\\win_tests");
}

TEST_F(Placement, PreventResizeRefusesEveryWayOfResizing) {
  KeptWindow w(kSizeable);
  w.Show();
  RECT r = w.Rect();
  const LPARAM leftBorder = MAKELPARAM(r.left + 1, (r.top + r.bottom) / 2);
  HMENU menu = GetSystemMenu(w.Handle(), FALSE);
  auto grayed = [&](UINT command) {
    EnableMenuItem(menu, command, MF_BYCOMMAND | MF_ENABLED);
    SendMessageA(w.Handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(0, TRUE));
    return (GetMenuState(menu, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
  };
  EXPECT_EQ(SendMessageA(w.Handle(), WM_NCHITTEST, 0, leftBorder), HTLEFT);
  EXPECT_FALSE(grayed(SC_SIZE));

  w.keeper.SetPreventResize(true);
  EXPECT_FALSE(GetWindowLongA(w.Handle(), GWL_STYLE) & WS_MAXIMIZEBOX);
  EXPECT_EQ(SendMessageA(w.Handle(), WM_NCHITTEST, 0, leftBorder), HTNOWHERE);
  EXPECT_TRUE(grayed(SC_SIZE));
  EXPECT_TRUE(grayed(SC_MAXIMIZE));
  MINMAXINFO info = {};
  SendMessageA(w.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, r.right - r.left);
  EXPECT_EQ(info.ptMaxTrackSize.y, r.bottom - r.top);
  SetWindowPos(w.Handle(), nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(w.Rect().right - w.Rect().left, r.right - r.left);

  w.keeper.SetPreventResize(false);
  EXPECT_TRUE(GetWindowLongA(w.Handle(), GWL_STYLE) & WS_MAXIMIZEBOX);
  EXPECT_EQ(SendMessageA(w.Handle(), WM_NCHITTEST, 0, leftBorder), HTLEFT);
  TWinMinMaxInfo limits;
  limits.MaxTrackWidth = 350;
  w.keeper.SetMinMaxInfo(limits);
  SetWindowPos(w.Handle(), nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(w.Rect().right - w.Rect().left, 350);
  EXPECT_EQ(w.Rect().bottom - w.Rect().top, 500);
}

}  // namespace
}  // namespace vk::widgets
