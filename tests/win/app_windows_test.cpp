// The main, splash and info windows: tab order, the splash timer's rule, and the info
// window that is the same window each time.
#include <gtest/gtest.h>

#include "app/info_form.h"
#include "app/main_form.h"
#include "app/splash_form.h"
#include "tasks_test_util.h"

namespace vk::app {
namespace {

TEST(SplashWindow, FirstTickClosesItAndAHiddenOneStaysHidden) {
  TSplashForm splash;
  splash.ShowSplash();
  EXPECT_TRUE(splash.Visible());
  EXPECT_TRUE(splash.TimerEnabled());
  splash.Timer1Timer();
  EXPECT_FALSE(splash.Visible());
  EXPECT_FALSE(splash.TimerEnabled());

  splash.ShowSplash();
  splash.Hide();
  splash.Timer1Timer();
  EXPECT_FALSE(splash.Visible()) << "never shown again";
  EXPECT_TRUE(splash.TimerEnabled()) << "the tick changes nothing";
}

namespace infouser {
TInfoForm* info = nullptr;
std::vector<HWND> shown;
int nestedResult = -1;

// A timer procedure is stdcall on i686, which a lambda cannot be.
void CALLBACK Answer(HWND, UINT, UINT_PTR, DWORD) {
  if (!info->Visible() || !info->InModal() || info->ModalResult() != 0) return;
  shown.push_back(info->Handle());
  nestedResult = info->Execute();
  info->SetModalResult(IDOK);
}
}  // namespace infouser

TEST(InfoWindow, EachUseShowsTheSameWindowAndNoSecondOneWhileOpen) {
  using namespace infouser;
  TInfoForm form;
  info = &form;
  shown.clear();
  // The user, on the modal loop's own thread: each showing is seen once, and a
  // second Execute while the window is open returns at once.
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, &Answer);
  EXPECT_EQ(form.Execute(), IDOK);
  EXPECT_EQ(form.Execute(), IDOK);
  KillTimer(nullptr, timer);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], form.Handle());
  EXPECT_EQ(shown[1], form.Handle());
  EXPECT_EQ(nestedResult, 0);
}

TEST(MainWindow, TabMovesBetweenInfoAndCloseOnly) {
  TMainForm main;
  HWND info = main.Item(TMainForm::kInfo), close = main.Item(TMainForm::kClose);
  EXPECT_EQ(GetNextDlgTabItem(main.Handle(), info, FALSE), close);
  EXPECT_EQ(GetNextDlgTabItem(main.Handle(), close, FALSE), info);
  EXPECT_EQ(GetNextDlgTabItem(main.Handle(), close, TRUE), info);
  EXPECT_FALSE(GetWindowLongA(main.Handle(), GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(main.Placement1->PreventResize());
  EXPECT_EQ(main.Placement1->StorageName(), "\\Software\\Morrow Tools\\Vaultkin");
  EXPECT_EQ(main.Placement1->SectionName(), "Pos");
}

}  // namespace
}  // namespace vk::app
