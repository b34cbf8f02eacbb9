// The program's boxes and a request to end that comes while one is up: the box is
// not lost, and the request still ends the program once the box is answered.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runs_test_util.h"
#include "win/msgbox.h"

namespace vk::win {
namespace {

using testing::FindDialog;

HWND WaitForBox(const char* caption, HWND other) {
  for (int i = 0; i < 1500; ++i) {
    HWND box = FindDialog(caption);
    if (box && box != other) return box;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

TEST(MessageBoxes, AnEndRequestedWhileABoxIsUpWaitsForTheAnswer) {
  testwatch::ExpectBoxes expect;
  struct Case {
    const char* caption;
    int button;
    bool confirm;
  };
  for (const Case& c : {Case{"Fehler", IDOK, false}, Case{"Bestätigen", IDYES, true}}) {
    SCOPED_TRACE(c.caption);
    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<bool> secondBox{false};
    // The host's departure as the program meets it: an end request in the queue of
    // the thread whose box is up.
    std::thread user([&] {
      HWND first = WaitForBox(c.caption, nullptr);
      if (!first) return;
      PostThreadMessageA(mainThread, WM_QUIT, 7, 0);
      while (IsWindow(first) && IsWindowVisible(first)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      HWND again = WaitForBox(c.caption, first);
      if (!again) return;
      secondBox = true;
      PostMessageA(again, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
    });
    bool yes = false;
    if (c.confirm)
      yes = Confirm("Weiter?");
    else
      ShowError("Die Sicherung ist unvollständig.");
    user.join();
    EXPECT_TRUE(secondBox) << "the box went with the end request";
    EXPECT_EQ(yes, c.confirm) << "the answer is the user's, not the end request's";
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the end request was lost";
    EXPECT_EQ(quit.wParam, 7u);
  }
}

}  // namespace
}  // namespace vk::win
