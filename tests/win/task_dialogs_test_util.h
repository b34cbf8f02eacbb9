#pragma once
// Helpers of the task dialog tests: scratch folders, a host installation directory
// named in the registry for one test, and a scripted user on a thread of its own who
// acts on the modal windows the main thread shows, one step after the other.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tasks/hostdir.h"
#include "box_watchdog.h"
#include "test_files.h"
#include "tree_caption.h"

// Rectangles compared and printed by GoogleTest.
inline bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }
inline void PrintTo(const RECT& r, std::ostream* out) {
  *out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace vk::dialogtest {

using testfiles::ReadBytes;
using testfiles::WriteBytes;
using testfiles::IsFile;
using testfiles::RemoveTree;
using testfiles::TempDir;

// The host's "ProgDir" for one test; the old value (or its absence) comes back after.
class ProgDirForTest {
 public:
  explicit ProgDirForTest(const std::string& dir) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      char buffer[1024];
      DWORD size = sizeof buffer, type = 0;
      if (RegQueryValueExA(key, "ProgDir", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &size) == ERROR_SUCCESS) {
        had_ = true;
        type_ = type;
        old_.assign(buffer, size);
      }
      RegCloseKey(key);
    }
    Set(REG_SZ, std::string(dir.c_str(), dir.size() + 1));
    tasks::ResetRememberedHostDirForTesting();
  }
  ~ProgDirForTest() {
    if (had_) {
      Set(type_, old_);
    } else {
      HKEY key;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "ProgDir");
        RegCloseKey(key);
      }
    }
    tasks::ResetRememberedHostDirForTesting();
  }
  ProgDirForTest(const ProgDirForTest&) = delete;
  ProgDirForTest& operator=(const ProgDirForTest&) = delete;

 private:
  static constexpr const char* kKey = "Software\\Gray.Fern.Labs\\Kestrone";
  void Set(DWORD type, const std::string& bytes) {
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "ProgDir", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
  }
  bool had_ = false;
  DWORD type_ = REG_SZ;
  std::string old_;
};

inline std::string WindowText(HWND w) {
  char text[2048] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

inline std::string ClassName(HWND w) {
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}

inline BOOL CALLBACK CollectOwnWindow(HWND w, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(w))
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
  return TRUE;
}

// Visible top-level windows of this process.
inline std::vector<HWND> OwnWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectOwnWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

inline HWND FindShown(const std::string& caption, const char* className = nullptr) {
  for (HWND w : OwnWindows())
    if (WindowText(w) == caption && (!className || ClassName(w) == className)) return w;
  return nullptr;
}

// The text of a message box.
inline std::string BoxText(HWND box) {
  char text[2048] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  return text;
}

// Posts a button's click to the window that handles it (posted, since it may open
// another modal window that this thread then has to answer).
inline void Click(HWND button) {
  PostMessageA(GetParent(button), WM_COMMAND,
               MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

inline void Press(HWND window, int id) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

inline void TypeInto(HWND edit, const std::string& text) {
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// Where the tree's hit test finds the node's check box, in the tree's client area.
inline bool CheckBoxPoint(HWND tree, HTREEITEM node, POINT* at) {
  RECT label;
  if (!TreeView_GetItemRect(tree, node, &label, TRUE)) return false;
  const int y = (label.top + label.bottom) / 2;
  for (int x = 0; x < label.left; ++x) {
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    TreeView_HitTest(tree, &hit);
    if (hit.hItem == node && (hit.flags & TVHT_ONITEMSTATEICON)) {
      *at = hit.pt;
      return true;
    }
  }
  return false;
}

// One thing the user does: wait for a shown window with this caption, act on it and
// (unless told otherwise) wait until it has gone.
struct Step {
  std::string caption;
  std::function<void(HWND)> act;
  bool waitGone = true;
  const char* className = nullptr;  // null: any class
};

// A message box with this caption, answered with the button.
inline Step Box(const std::string& caption, int button) {
  return Step{caption, [button](HWND box) { Press(box, button); }, true, "#32770"};
}

// Plays the steps on its own thread. Should a step's window not come, it gives up,
// and from then on cancels every window of the process, so the main thread is never
// left in a modal loop that nobody answers.
class UserScript {
 public:
  explicit UserScript(std::vector<Step> steps,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20))
      : steps_(std::move(steps)), timeout_(timeout) {
    thread_ = std::thread([this] { Run(); });
  }
  ~UserScript() {
    stop_ = true;
    thread_.join();
  }
  UserScript(const UserScript&) = delete;
  UserScript& operator=(const UserScript&) = delete;

  // Waits for the script's end; true when every step was played.
  bool Finished() {
    while (!ended_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return played_ == static_cast<int>(steps_.size());
  }
  int Played() const { return played_; }
  // The text of each message box that a step answered, in order.
  std::vector<std::string> BoxTexts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  void Run() {
    for (const Step& step : steps_) {
      const auto until = std::chrono::steady_clock::now() + timeout_;
      HWND w = nullptr;
      while (!stop_ && !w && std::chrono::steady_clock::now() < until) {
        w = FindShown(step.caption, step.className);
        if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (!w) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(60));  // let it settle
      if (ClassName(w) == "#32770") {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(BoxText(w));
      }
      step.act(w);
      ++played_;
      while (step.waitGone && !stop_ && IsWindow(w) && IsWindowVisible(w))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ended_ = true;
    if (played_ == static_cast<int>(steps_.size())) return;
    while (!stop_) {
      for (HWND w : OwnWindows()) {
        for (int id : {IDCANCEL, IDNO, IDOK}) Press(w, id);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  std::vector<Step> steps_;
  std::chrono::milliseconds timeout_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::atomic<int> played_{0};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  testwatch::ExpectBoxes expect_;  // answers boxes: the watchdog waits longer
  std::thread thread_;
};

}  // namespace vk::dialogtest
