#pragma once
// Helpers of the archive, path label and run tests: temporary directories, files,
// small hand-made ZIP archives, and a watcher thread that answers the program's
// modal boxes and file dialogs the way a user would.
#include <windows.h>
#include <commdlg.h>
#include <zlib.h>

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

namespace vk::testing {

inline constexpr auto& ReadBytes = testfiles::ReadFileBytes;
inline constexpr auto& WriteBytes = testfiles::WriteFileBytes;
inline constexpr auto& FileExists = testfiles::IsFile;
inline constexpr auto& DirectoryExists = testfiles::IsDirectory;
using testfiles::RemoveTree;

// A fresh directory under %TEMP%, removed with everything in it at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& tag) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static std::atomic<int> counter{0};
    path_ = std::string(base) + "vk_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter++);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDir() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    if (_strnicmp(cwd, path_.c_str(), path_.size()) == 0) {
      char base[MAX_PATH];
      GetTempPathA(MAX_PATH, base);
      SetCurrentDirectoryA(base);
    }
    RemoveTree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Builds archives byte by byte (stored entries) so that the directory reader can be
// fed exactly the headers a test needs.
struct ZipEntryOptions {
  bool zip64 = false;  // sizes 0xFFFFFFFF in the local header, real ones in the extra field
  std::string extra;   // an extra field of the test's own (ignored when zip64)
};

class ZipBuilder {
 public:
  using Options = ZipEntryOptions;

  void AddStored(const std::string& name, const std::string& data, Options opt = {}) {
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    std::string extra = opt.extra;
    if (opt.zip64) {
      extra.clear();
      Put16(extra, 0x0001);
      Put16(extra, 16);
      Put64(extra, data.size());
      Put64(extra, data.size());
    }
    uint32_t offset = static_cast<uint32_t>(local_.size());
    Put32(local_, 0x04034B50);
    Put16(local_, opt.zip64 ? 45 : 10);
    Put16(local_, 0);
    Put16(local_, 0);
    Put16(local_, 0x6000);
    Put16(local_, 0x5421);
    Put32(local_, crc);
    Put32(local_, opt.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(data.size()));
    Put32(local_, opt.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(data.size()));
    Put16(local_, static_cast<uint16_t>(name.size()));
    Put16(local_, static_cast<uint16_t>(extra.size()));
    local_ += name + extra + data;

    Put32(central_, 0x02014B50);
    Put16(central_, 20);
    Put16(central_, 10);
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0x6000);
    Put16(central_, 0x5421);
    Put32(central_, crc);
    Put32(central_, static_cast<uint32_t>(data.size()));
    Put32(central_, static_cast<uint32_t>(data.size()));
    Put16(central_, static_cast<uint16_t>(name.size()));
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0);
    Put32(central_, 0);
    Put32(central_, offset);
    central_ += name;
    ++count_;
  }

  // Bytes placed between the entries and the central directory.
  void AddRaw(const std::string& bytes) { local_ += bytes; }

  std::string Finish() const {
    std::string end;
    Put32(end, 0x06054B50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<uint16_t>(count_));
    Put16(end, static_cast<uint16_t>(count_));
    Put32(end, static_cast<uint32_t>(central_.size()));
    Put32(end, static_cast<uint32_t>(local_.size()));
    Put16(end, 0);
    return local_ + central_ + end;
  }

  static void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  }
  static void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
  }
  static void Put64(std::string& s, uint64_t v) {
    Put32(s, static_cast<uint32_t>(v));
    Put32(s, static_cast<uint32_t>(v >> 32));
  }

 private:
  std::string local_;
  std::string central_;
  int count_ = 0;
};

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

  // What was answered so far, in order.
  std::vector<Answered> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  // Blocks until every answer was given or the watcher gave up; true when all were.
  bool Done() {
    while (!finished_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Seen().size() == answers_.size();
  }
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
