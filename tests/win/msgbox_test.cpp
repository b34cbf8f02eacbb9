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

struct Case {
  const char* caption;
  int button;
  bool confirm;
};
const Case kBoxes[] = {{"Fehler", IDOK, false}, {"Bestätigen", IDYES, true}};

bool ShowBox(const Case& c) {
  if (c.confirm) return Confirm("Weiter?");
  ShowError("Die Sicherung ist unvollständig.");
  return false;
}

TEST(MessageBoxes, AnEndRequestedWhileABoxIsUpWaitsForTheAnswer) {
  testwatch::ExpectBoxes expect;
  for (const Case& c : kBoxes) {
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
    const bool yes = ShowBox(c);
    user.join();
    EXPECT_TRUE(secondBox) << "the box went with the end request";
    EXPECT_EQ(yes, c.confirm) << "the answer is the user's, not the end request's";
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the end request was lost";
    EXPECT_EQ(quit.wParam, 7u);
  }
}

LRESULT CALLBACK EndOnRequest(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_APP) return DefWindowProcA(hwnd, msg, wParam, lParam);
  PostQuitMessage(static_cast<int>(wParam));
  return 0;
}

TEST(MessageBoxes, AnEndRequestedJustAfterTheAnswerDoesNotBringTheBoxBack) {
  testwatch::ExpectBoxes expect;
  // The host's departure reaches this thread as a sent step that asks to end; here it
  // comes right after the click, before the box has gone.
  WNDCLASSA wc{};
  wc.lpfnWndProc = EndOnRequest;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "VkEndOnRequest";
  RegisterClassA(&wc);
  HWND steps = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(steps, nullptr);
  for (const Case& c : kBoxes) {
    SCOPED_TRACE(c.caption);
    std::atomic<bool> secondBox{false};
    std::thread user([&] {
      HWND box = WaitForBox(c.caption, nullptr);
      if (!box) return;
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
      SendMessageA(steps, WM_APP, 7, 0);
      while (IsWindow(box) && IsWindowVisible(box)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (int i = 0; i < 50 && !secondBox; ++i) {
        if (HWND again = FindDialog(c.caption); again && again != box) {
          secondBox = true;
          PostMessageA(again, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    const bool yes = ShowBox(c);
    user.join();
    EXPECT_FALSE(secondBox) << "the box came again after it was answered";
    EXPECT_EQ(yes, c.confirm);
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the end request was lost";
    EXPECT_EQ(quit.wParam, 7u);
  }
  DestroyWindow(steps);
}

}  // namespace
}  // namespace vk::win
