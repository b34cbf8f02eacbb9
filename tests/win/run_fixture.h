#pragma once
// The stage of the backup and restore run tests: a sample host installation in a
// temporary folder, its registry branch (the real one's saved and put back), the two
// run windows created once, and ways to look into the archives they write.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backup/extract_form.h"
#include "backup/pack_form.h"
#include "core/zip_directory.h"
#include "runs_test_util.h"
#include "tasks/hostdir.h"
#include "tasks/sets.h"
#include "win/application.h"

namespace vk::testing {

constexpr char kBranchKey[] = "Software\\Gray.Fern.Labs\\Kestrone";
constexpr char kSavedKey[] = "Software\\VaultkinRunTestSaved";

// One registry value as the tests compare them.
struct RegValue {
  DWORD type = 0;
  std::string data;
  bool operator==(const RegValue& o) const { return type == o.type && data == o.data; }
};
// Every value below a key: "sub\key|name" -> value; keys without values as "sub\key|".
using RegSnapshot = std::map<std::string, RegValue>;

inline void SnapshotKey(HKEY key, const std::string& path, RegSnapshot* out) {
  (*out)[path + "|"] = {};
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameLen = sizeof name;
    DWORD type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::string data(size, '\0');
    nameLen = sizeof name;
    RegEnumValueA(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size);
    (*out)[path + "|" + name] = {type, data};
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLen = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY sub;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      SnapshotKey(sub, path.empty() ? name : path + "\\" + name, out);
      RegCloseKey(sub);
    }
  }
}

inline RegSnapshot Snapshot(const std::string& keyPath = kBranchKey) {
  RegSnapshot s;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    SnapshotKey(key, "", &s);
    RegCloseKey(key);
  }
  return s;
}

inline bool KeyExists(const std::string& keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline void SetValue(const std::string& keyPath, const std::string& name, DWORD type,
                     const std::string& data) {
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

inline void SetString(const std::string& keyPath, const std::string& name, const std::string& s) {
  SetValue(keyPath, name, REG_SZ, std::string(s.c_str(), s.size() + 1));
}

inline void SetDword(const std::string& keyPath, const std::string& name, DWORD v) {
  SetValue(keyPath, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&v), sizeof v));
}

// Keeps the user's real host branch aside for the test and puts it back afterwards.
class BranchGuard {
 public:
  BranchGuard() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kSavedKey);
    HKEY branch;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBranchKey, 0, KEY_READ, &branch) == ERROR_SUCCESS) {
      HKEY saved;
      RegCreateKeyExA(HKEY_CURRENT_USER, kSavedKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &saved, nullptr);
      RegCopyTreeA(branch, nullptr, saved);
      RegCloseKey(saved);
      RegCloseKey(branch);
      had_ = true;
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, kBranchKey);
  }
  ~BranchGuard() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kBranchKey);
    if (had_) {
      HKEY saved, branch;
      RegOpenKeyExA(HKEY_CURRENT_USER, kSavedKey, 0, KEY_READ, &saved);
      RegCreateKeyExA(HKEY_CURRENT_USER, kBranchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &branch, nullptr);
      RegCopyTreeA(saved, nullptr, branch);
      RegCloseKey(branch);
      RegCloseKey(saved);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, kSavedKey);
  }
  BranchGuard(const BranchGuard&) = delete;
  BranchGuard& operator=(const BranchGuard&) = delete;

 private:
  bool had_ = false;
};

// The names an archive holds, read with the format core (not with the component
// under test).
inline std::vector<std::string> ArchiveNames(const std::string& path) {
  std::string bytes = ReadBytes(path);
  zip::MemoryAccess access(bytes);
  zip::Directory dir = zip::ReadDirectory(access);
  std::vector<std::string> names;
  for (const zip::Entry& e : dir.entries) {
    std::string name = e.name;
    if (e.flags & zip::kFlagUtf8) {
      // Names beyond ASCII are stored as UTF-8; the tests speak code page 1252.
      int n = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
      std::wstring wide(static_cast<size_t>(n), L'\0');
      MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
      int m = WideCharToMultiByte(1252, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
      name.assign(static_cast<size_t>(m), '\0');
      WideCharToMultiByte(1252, 0, wide.data(), n, name.data(), m, nullptr, nullptr);
    }
    names.push_back(name);
  }
  return names;
}

// Every file below `dir`, relative, "\" separated -> its bytes.
inline void CollectFiles(const std::string& dir, const std::string& prefix,
                         std::map<std::string, std::string>* out) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    std::string rel = prefix.empty() ? name : prefix + "\\" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CollectFiles(dir + "\\" + name, rel, out);
    else
      (*out)[rel] = ReadBytes(dir + "\\" + name);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}

inline std::map<std::string, std::string> FilesBelow(const std::string& dir) {
  std::map<std::string, std::string> files;
  CollectFiles(dir, "", &files);
  return files;
}

// Dates the file back to 2001, older than any archive a test writes: a restore
// then replaces it without asking first.
inline void MakeOld(HANDLE h) {
  SYSTEMTIME st = {2001, 1, 1, 1, 12, 0, 0, 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
}

inline void MakeOld(const std::string& path) {
  MakeOld(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr));
}

inline void MakeOld(const std::wstring& path) {
  MakeOld(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr));
}

inline void WriteOld(const std::string& path, const std::string& bytes) {
  WriteBytes(path, bytes);
  MakeOld(path);
}

// Bytes that deflate does not shrink much, so that big files take several steps.
inline std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

// Runs `action` when the engine begins its n-th file, before the window's own
// progress handling (which lets pending messages through).
class AtFile {
 public:
  AtFile(backup::TRunForm& form, int n, std::function<void()> action) : form_(form) {
    original_ = form.ZipArchiver1.OnProgress;
    form.ZipArchiver1.OnProgress = [this, n, action](backup::ProgressType t, const std::string& name,
                                                     int size) {
      if (t == backup::ProgressType::ptFileStart && ++starts_ == n) action();
      original_(t, name, size);
    };
  }
  ~AtFile() { form_.ZipArchiver1.OnProgress = original_; }
  AtFile(const AtFile&) = delete;
  AtFile& operator=(const AtFile&) = delete;
  int Starts() const { return starts_; }

 private:
  backup::TRunForm& form_;
  std::function<void(backup::ProgressType, const std::string&, int)> original_;
  int starts_ = 0;
};

// Presses the window's cancel button (or Escape) when the engine begins its n-th
// file, the way a user does: the press waits in the queue until the run lets
// messages through.
class CancelAtFile : public AtFile {
 public:
  CancelAtFile(backup::TRunForm& form, int n, bool escape)
      : AtFile(form, n, [&form, escape] {
          HWND button = form.Item(IDCANCEL);
          if (escape)
            PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 0);
          else
            PostMessageA(button, BM_CLICK, 0, 0);
        }) {}
};

// Another program holding a file open without sharing, as the host does with the
// files it writes: "winctl.exe" from beside the test program, driven through its
// standard input and output, so that each step waits for its answer.
class OtherProcessHolds {
 public:
  explicit OtherProcessHolds(const std::string& path) : path_(path) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string program = tasks::ExtractFileDir(self) + "\\winctl.exe";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    CreatePipe(&childIn, &toChild_, &inherit, 0);
    CreatePipe(&fromChild_, &childOut, &inherit, 0);
    SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childOut;
    std::string line = "\"" + program + "\"";
    CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, /*bInheritHandles=*/TRUE, CREATE_NO_WINDOW,
                   nullptr, nullptr, &startup, &process_);
    CloseHandle(childIn);
    CloseHandle(childOut);
    answer_ = Ask("hold\t" + path_);
  }
  ~OtherProcessHolds() {
    Ask("quit");
    CloseHandle(toChild_);
    if (process_.hProcess) WaitForSingleObject(process_.hProcess, INFINITE);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    CloseHandle(fromChild_);
  }
  OtherProcessHolds(const OtherProcessHolds&) = delete;
  OtherProcessHolds& operator=(const OtherProcessHolds&) = delete;

  // "ok" once the file is held.
  const std::string& Answer() const { return answer_; }
  std::string Release() { return Ask("release\t" + path_); }

 private:
  std::string Ask(const std::string& command) {
    std::string text = command + "\n";
    DWORD n = 0;
    WriteFile(toChild_, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    if (command == "quit") return {};
    std::string reply;
    char c;
    while (ReadFile(fromChild_, &c, 1, &n, nullptr) && n == 1 && c != '\n')
      if (c != '\r') reply += c;
    return reply;
  }

  std::string path_;
  std::string answer_;
  HANDLE toChild_ = nullptr;
  HANDLE fromChild_ = nullptr;
  PROCESS_INFORMATION process_ = {};
};

// A drawing interval passes at every event: the run windows draw and let messages
// through at every event, so a press is seen where the test makes it.
inline uint64_t EveryEventClock() {
  static uint64_t now = 0;
  return now += PaintPace::kIntervalMs;
}

class RunFixture : public ::testing::Test {
 protected:
  static backup::TPackForm& Pack() { return *Forms().pack; }
  static backup::TExtractForm& Extract() { return *Forms().extract; }

  void SetUp() override {
    guard_ = std::make_unique<BranchGuard>();
    host_ = std::make_unique<TempDir>("host");
    work_ = std::make_unique<TempDir>("work");
    MakeSampleHost();
    tasks::ResetRememberedHostDirForTesting();
    backup::TRunForm::SetClockForTesting(EveryEventClock);
    Pack().ZipArchiver1.AddCompLevel = 9;
    Pack().ZipArchiver1.AddOptions = {backup::AddDirNames, backup::AddRecurseDirs};
  }
  void TearDown() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    SetCurrentDirectoryA(temp);
    backup::TRunForm::SetClockForTesting(nullptr);
    Pack().Hide();
    Extract().Hide();
    work_.reset();
    host_.reset();
    guard_.reset();
    backup::TRunForm::SetRegeditDirForTesting("");
    backup::TRunForm::SetRegeditNeedsElevationForTesting(false);
  }

  std::string Host() const { return host_->Path(); }
  std::string HostFile(const std::string& rel) const { return Host() + "\\" + rel; }
  std::string Work(const std::string& name) const { return *work_ / name; }
  std::string WorkDir() const { return work_->Path(); }
  std::string DefaultArchive() const { return HostFile("Backup\\KestroneBackup.zip"); }

  // A task that backs up the sample's three directories into the default archive.
  std::unique_ptr<tasks::TSet> MakeTask() {
    auto task = std::make_unique<tasks::TSet>(Work("test.set"));
    task->InclDirs = ".,.\\Filebase,.\\Inbound,.\\MsgBase";
    task->UseDefZipName = true;
    task->DefZipName = DefaultArchive();
    task->SaveRegistry = true;
    task->SaveFiles = true;
    task->LastBackup = 0;
    return task;
  }

  // The files a backup of MakeTask() must hold, as the archive names them.
  static std::vector<std::string> ExpectedNames() {
    return {"Filebase/Grüße.txt", "Filebase/bin.dat", "Filebase/liste.txt", "Inbound/a.pkt",
            "Kestrone.ini",       "MsgBase/msg.dat",  "kestrone.reg"};
  }

  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

 private:
  struct FormSet {
    std::unique_ptr<win::Form> main;
    std::unique_ptr<backup::TPackForm> pack;
    std::unique_ptr<backup::TExtractForm> extract;
  };
  static FormSet& Forms() {
    static FormSet forms = [] {
      if (!win::App().Module()) win::App().Initialize(GetModuleHandleA(nullptr));
      if (win::App().Title().empty()) win::App().SetTitle("Vaultkin");
      FormSet f;
      // The first form is the program's main form, whose closing ends the program;
      // in the program that is the main window, here a stand-in.
      if (!win::App().MainForm()) {
        f.main = std::make_unique<win::Form>();
        f.main->CreateForm("Vaultkin", 200, 100);
      }
      f.extract = std::make_unique<backup::TExtractForm>();
      f.pack = std::make_unique<backup::TPackForm>();
      return f;
    }();
    return forms;
  }

  void MakeSampleHost() {
    const std::string h = Host();
    for (const char* d : {"Filebase", "Filebase\\Archiv", "Inbound", "MsgBase", "Backup"})
      CreateDirectoryA((h + "\\" + d).c_str(), nullptr);
    WriteBytes(h + "\\Kestrone.ini", "[Main]\r\nSprache=Deutsch\r\n");
    WriteBytes(h + "\\Filebase\\liste.txt", "Dateiliste\r\n");
    WriteBytes(h + "\\Filebase\\Grüße.txt", "Grüße aus der Dateibasis\r\n");
    WriteBytes(h + "\\Filebase\\bin.dat", Noise(300000, 1));
    WriteBytes(h + "\\Filebase\\Archiv\\alt.txt", "nicht gesichert\r\n");
    WriteBytes(h + "\\Inbound\\a.pkt", Noise(1000, 2));
    WriteBytes(h + "\\MsgBase\\msg.dat", Noise(150000, 3));

    SetString(kBranchKey, "ProgDir", h);
    SetString(kBranchKey, "Sprache", "Deutsch");
    SetDword(kBranchKey, "Zahl", 42);
    SetValue(kBranchKey, "Binaer", REG_BINARY, std::string("\x01\x02\x00\xff", 4));
    SetString(std::string(kBranchKey) + "\\Fenster", "Titel", "Hauptfenster äöü");
    SetDword(std::string(kBranchKey) + "\\Fenster", "Links", 10);
  }

  std::unique_ptr<BranchGuard> guard_;
  std::unique_ptr<TempDir> host_;
  std::unique_ptr<TempDir> work_;
};

}  // namespace vk::testing
