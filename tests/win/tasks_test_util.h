#pragma once
// Helpers of the task and folder dialog tests: scratch folders, whole-file reads and
// writes, registry values put back after a test, and threads that act on the
// program's modal windows the way a user would.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "box_watchdog.h"
#include "tree_caption.h"
#include "test_files.h"

namespace vk::tasktest {

using testfiles::ReadBytes;
using testfiles::WriteBytes;
using testfiles::IsFile;
using testfiles::RemoveTree;
using testfiles::TempDir;

// Remembers one value under HKEY_CURRENT_USER and puts it back (or removes it) at
// the end of the test.
class SavedRegValue {
 public:
  SavedRegValue(std::string key, std::string name) : key_(std::move(key)), name_(std::move(name)) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
      DWORD size = 0;
      if (RegQueryValueExA(k, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.resize(size);
        RegQueryValueExA(k, name_.c_str(), nullptr, &type_,
                         reinterpret_cast<BYTE*>(data_.data()), &size);
        existed_ = true;
      }
      RegCloseKey(k);
    }
  }
  ~SavedRegValue() {
    if (existed_) {
      Set(type_, data_);
    } else {
      Delete();
    }
  }
  SavedRegValue(const SavedRegValue&) = delete;
  SavedRegValue& operator=(const SavedRegValue&) = delete;

  void Set(DWORD type, const std::string& bytes) const {
    HKEY k;
    RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k,
                    nullptr);
    RegSetValueExA(k, name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(k);
  }
  // A string value with its terminating NUL, as programs usually store them.
  void SetString(const std::string& s, DWORD type = REG_SZ) const {
    Set(type, std::string(s.c_str(), s.size() + 1));
  }
  void Delete() const {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_WRITE, &k) == ERROR_SUCCESS) {
      RegDeleteValueA(k, name_.c_str());
      RegCloseKey(k);
    }
  }

 private:
  std::string key_, name_;
  bool existed_ = false;
  DWORD type_ = REG_SZ;
  std::string data_;
};

// The host's "ProgDir" value for one test.
class ProgDirValue : public SavedRegValue {
 public:
  ProgDirValue() : SavedRegValue("Software\\Gray.Fern.Labs\\Kestrone", "ProgDir") {}
};

inline std::string ClassOf(HWND w) {
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}

inline std::string TextOf(HWND w) {
  char text[1024] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

// The first visible top-level window of this process for which `match` holds.
struct WindowSearch {
  const std::function<bool(HWND)>* match;
  HWND found = nullptr;
};

inline BOOL CALLBACK TestOwnWindow(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<WindowSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(w) || !(*s->match)(w)) return TRUE;
  s->found = w;
  return FALSE;
}

inline HWND FindOwnWindow(const std::function<bool(HWND)>& match) {
  WindowSearch search{&match};
  EnumWindows(TestOwnWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The shell's folder browser: a dialog with a folder tree in it.
inline HWND FindFolderBrowser() {
  return FindOwnWindow([](HWND w) {
    return ClassOf(w) == "#32770" && FindWindowExA(w, nullptr, "SysTreeView32", nullptr);
  });
}

// Whether some control inside the window shows this text.
struct TextSearch {
  const std::string* text;
  bool found = false;
};

inline BOOL CALLBACK TestChildText(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<TextSearch*>(lp);
  if (TextOf(w) == *s->text) s->found = true;
  return !s->found;
}

inline bool HasChildWithText(HWND parent, const std::string& text) {
  TextSearch search{&text};
  EnumChildWindows(parent, TestChildText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The text of the folder browser's selected folder ("" while none is selected).
inline std::string SelectedFolder(HWND browser) {
  HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
  auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  return item ? TreeCaption(tree, item) : "";
}

// Selects a folder in the folder browser and waits until its tree shows it: the
// browser fills its tree and sets its first selection on its own time, and a
// selection made before that would be overwritten.
inline bool SelectFolder(HWND browser, const std::string& path) {
  const std::string leaf = path.substr(path.find_last_of('\\') + 1);
  for (int attempt = 0; attempt < 50; ++attempt) {
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
    for (int look = 0; look < 5; ++look) {
      if (_stricmp(SelectedFolder(browser).c_str(), leaf.c_str()) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return false;
}

inline void Press(HWND dialog, int button) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

// Acts on modal windows from a thread of its own while the main thread shows them:
// each time `find` returns a window, `act` is run on it (once per window) until
// `times` windows were handled or the watcher is destroyed.
class WindowWatcher {
 public:
  WindowWatcher(std::function<HWND()> find, std::function<void(HWND)> act, int times = 1000)
      : find_(std::move(find)), act_(std::move(act)), times_(times) {
    thread_ = std::thread([this] { Run(); });
  }
  ~WindowWatcher() {
    stop_ = true;
    thread_.join();
  }
  WindowWatcher(const WindowWatcher&) = delete;
  WindowWatcher& operator=(const WindowWatcher&) = delete;

  int Handled() const { return handled_; }

 private:
  void Run() {
    while (!stop_ && handled_ < times_) {
      HWND w = find_();
      if (!w) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it settle
      ++handled_;  // before acting: the main thread may go on at once
      act_(w);
      // Wait for it to go, so it is not taken for the next one.
      while (!stop_ && IsWindow(w) && IsWindowVisible(w))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::function<HWND()> find_;
  std::function<void(HWND)> act_;
  int times_;
  std::atomic<bool> stop_{false};
  std::atomic<int> handled_{0};
  testwatch::ExpectBoxes expect_;  // answers boxes: the watchdog waits longer
  std::thread thread_;
};

// Answers every "Fehler" box with OK and keeps the texts it showed.
class ErrorBoxes {
 public:
  ErrorBoxes()
      : watcher_([] { return FindOwnWindow([](HWND w) {
                   return ClassOf(w) == "#32770" && TextOf(w) == "Fehler";
                 }); },
                 [this](HWND box) {
                   char text[2048] = {};
                   GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
                   {
                     std::lock_guard<std::mutex> lock(mutex_);
                     texts_.push_back(text);
                   }
                   Press(box, IDOK);
                 }) {}

  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
  WindowWatcher watcher_;  // last: it stops before the texts go
};

}  // namespace vk::tasktest
