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

TEST(InfoWindow, EachUseShowsTheSameWindow) {
  TInfoForm info;
  std::vector<HWND> shown;
  tasktest::WindowWatcher user(
      [] { return tasktest::FindOwnWindow([](HWND w) { return tasktest::TextOf(w) == "Info"; }); },
      [&](HWND w) {
        shown.push_back(w);
        tasktest::Press(w, IDOK);
      });
  EXPECT_EQ(info.Execute(), IDOK);
  EXPECT_EQ(info.Execute(), IDOK);
  ASSERT_EQ(user.Handled(), 2);
  EXPECT_EQ(shown[0], info.Handle());
  EXPECT_EQ(shown[1], info.Handle());
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
