#pragma once
// Helpers of the archive, path label and run tests: temporary directories, files,
// small hand-made ZIP archives, and a watcher thread that answers the program's
// modal boxes and file dialogs the way a user would.
#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "box_watchdog.h"
#include "test_files.h"
#include "zip_builder.h"

namespace vk::testing {

using testfiles::ReadBytes;
using testfiles::WriteBytes;
using testfiles::IsFile;
using testfiles::IsDirectory;
using testfiles::RemoveTree;
using testfiles::TempDir;
using testzip::ZipBuilder;

// What the watcher saw and did with one window.
struct Answered {
  std::string caption;
  std::string text;     // a message box's text
  std::string fileBox;  // a file dialog's file name, as it was offered
  int button = 0;
};

// Stands for the shell's folder browser, whatever its caption: a dialog with a tree.
constexpr char kFolderBrowser[] = "<folder browser>";

// Whether a folder tree lies anywhere inside the window.
inline BOOL CALLBACK FindTree(HWND child, LPARAM found) {
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (std::string(cls) != "SysTreeView32") return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

inline bool HasTree(HWND window) {
  bool found = false;
  EnumChildWindows(window, FindTree, reinterpret_cast<LPARAM>(&found));
  return found;
}

struct DialogSearch {
  std::string caption;
  HWND found = nullptr;
};

inline BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<DialogSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  char cls[64] = {}, text[512] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  GetWindowTextA(hwnd, text, sizeof text);
  bool match = s->caption == kFolderBrowser ? HasTree(hwnd) : s->caption == text;
  if (std::string(cls) == "#32770" && match) {
    s->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A top-level dialog window of this process with the given caption, if one is shown.
inline HWND FindDialog(const std::string& caption) {
  DialogSearch search{caption};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// One step of the watcher: wait for a dialog with this caption, optionally type a
// file name into it, then press a button.
struct Answer {
  Answer(std::string c, int b = IDOK, std::string f = "")
      : caption(std::move(c)), button(b), fileName(std::move(f)) {}
  std::string caption;
  int button;
  std::string fileName;  // for the open and save dialogs
};

// Answers the modal windows that the main thread shows, in the given order, from a
// thread of its own. Each answer waits up to `timeout` for its window.
class Watcher {
 public:
  explicit Watcher(std::vector<Answer> answers,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30))
      : answers_(std::move(answers)), timeout_(timeout) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Watcher() {
    stop_ = true;
    thread_.join();
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // What was answered, in order, once the watcher has finished (it waits as Done
  // does). The watcher's own record, not a copy: a text taken from it by reference
  // stays valid while the watcher lives, where one taken from a returned copy would
  // be read after it was freed.
  const std::vector<Answered>& Seen() {
    while (!finished_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return seen_;
  }
  // Blocks until every answer was given or the watcher gave up; true when all were.
  bool Done() { return Seen().size() == answers_.size(); }
  // The starting folder that a file dialog showed, when one was answered.
  std::string DialogFolder() {
    std::lock_guard<std::mutex> lock(mutex_);
    return folder_;
  }

 private:
  void Run() {
    for (const Answer& a : answers_) {
      auto until = std::chrono::steady_clock::now() + timeout_;
      HWND box = nullptr;
      while (!stop_ && std::chrono::steady_clock::now() < until) {
        box = FindDialog(a.caption);
        if (box) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (!box) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Answered done;
      done.caption = a.caption;
      done.button = a.button;
      char text[2048] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      done.text = text;
      if (!a.fileName.empty() || a.button == IDOK) {
        char folder[MAX_PATH] = {};
        if (SendMessageA(box, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder)) > 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          folder_ = folder;
        }
      }
      // cmb13 holds the name in the explorer-style dialogs, edt1 in the old ones.
      HWND name = GetDlgItem(box, 0x47C);
      if (!name) name = GetDlgItem(box, 0x480);
      if (name) {
        char offered[MAX_PATH] = {};
        SendMessageA(name, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(offered));
        done.fileBox = offered;
      }
      if (!a.fileName.empty() && name)
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.fileName.c_str()));
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, a.button)));
      // Wait until the window has gone, so that the next answer does not find it again.
      while (!stop_ && IsWindow(box) && IsWindowVisible(box))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(done);
    }
    finished_ = true;
  }

  std::vector<Answer> answers_;
  std::chrono::milliseconds timeout_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::vector<Answered> seen_;
  std::string folder_;
  testwatch::ExpectBoxes expect_;  // answers boxes: the watchdog waits longer
  std::thread thread_;
};

}  // namespace vk::testing
