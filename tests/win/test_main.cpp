// The Windows tests' entry: the application object and the common controls are set
// up once, as the program's start-up does, before any test runs. A watchdog thread
// fails the running test when a message box or modal dialog of this process stays
// unanswered, prints its caption and text and closes it, so that a box nobody
// expected costs seconds instead of the whole run.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "box_watchdog.h"
#include "test_setup.h"

namespace {

using Clock = std::chrono::steady_clock;

// Unanswered this long, a box fails the test; much longer while a helper of the test
// is there to answer boxes (it may be waiting for another one first).
constexpr auto kUnexpected = std::chrono::seconds(8);
constexpr auto kWhileAnswered = std::chrono::seconds(30);

std::mutex running_mutex;
std::string running;  // the test now running, "" between tests

class RunningTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo& info) override {
    std::lock_guard<std::mutex> lock(running_mutex);
    running = std::string(info.test_suite_name()) + "." + info.name();
  }
  void OnTestEnd(const testing::TestInfo&) override {
    std::lock_guard<std::mutex> lock(running_mutex);
    running.clear();
  }
};

std::string ClassOf(HWND w) {
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}

// A message box (its text is the static 0xFFFF) or a dialog whose owner it disabled:
// either way a modal loop waits for an answer. The tests' own non-modal dialogs are
// not meant.
bool IsModalBox(HWND w) {
  if (ClassOf(w) != "#32770") return false;
  if (GetDlgItem(w, 0xFFFF)) return true;
  HWND owner = GetWindow(w, GW_OWNER);
  return owner && !IsWindowEnabled(owner);
}

BOOL CALLBACK CollectBox(HWND w, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(w) && IsModalBox(w))
    reinterpret_cast<std::map<HWND, Clock::time_point>*>(lp)->emplace(w, Clock::now());
  return TRUE;
}

// The way out a user would take: Cancel, No or OK, whichever the box has.
void Dismiss(HWND box) {
  for (int id : {IDCANCEL, IDNO, IDOK, IDABORT}) {
    if (HWND button = GetDlgItem(box, id)) {
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      return;
    }
  }
  PostMessageA(box, WM_CLOSE, 0, 0);
}

void Watch() {
  std::map<HWND, Clock::time_point> firstSeen;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::map<HWND, Clock::time_point> shown;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&shown));
    for (auto& [box, seen] : shown) {
      auto old = firstSeen.find(box);
      if (old != firstSeen.end()) seen = old->second;
    }
    firstSeen = shown;
    const auto limit = vk::testwatch::answerers > 0 ? kWhileAnswered : kUnexpected;
    for (auto& [box, seen] : firstSeen) {
      if (Clock::now() - seen < limit) continue;
      char caption[256] = {}, text[2048] = {};
      GetWindowTextA(box, caption, sizeof caption);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      std::string test;
      {
        std::lock_guard<std::mutex> lock(running_mutex);
        test = running;
      }
      std::fprintf(stderr, "watchdog: unanswered box \"%s\": \"%s\" (in %s)\n", caption, text,
                   test.empty() ? "no test" : test.c_str());
      std::fflush(stderr);
      if (!test.empty())
        ADD_FAILURE() << "An unanswered box \"" << caption << "\" said: \"" << text << "\"";
      Dismiss(box);
      seen = Clock::now();  // should the box stay, it is tried again after another limit
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  vk::testsetup::StartLikeTheProgram();
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new RunningTest);
  std::thread(Watch).detach();
  return RUN_ALL_TESTS();
}
