#include "tasks/sets.h"

#include <windows.h>

#include <utility>

#include "core/comma_list.h"
#include "tasks/hostdir.h"
#include "win/application.h"

namespace vk::tasks {
namespace {

TaskRunner& Runner() {
  static TaskRunner runner;
  return runner;
}

void Report(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    win::App().HandleException(e);
  } catch (...) {
    win::App().HandleUnknownException();
  }
}

// FindFirstFile also matches "*.set" against 8.3 short names, so "x.settings"
// (short "X~1.SET") would be listed too and overwritten with a task at the end.
bool IsTaskFileName(const std::string& name) {
  return name.size() > 4 && SameTextAnsi(name.substr(name.size() - 4), ".set");
}

}  // namespace

std::string TaskFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return ExtractFilePath(path) + "Vaultkin";
}

char DecimalSeparator() {
  char buf[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) > 0 && buf[0])
    return buf[0];
  return '.';
}

TDateTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear, t.month = st.wMonth, t.day = st.wDay;
  t.hour = st.wHour, t.minute = st.wMinute, t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return EncodeDateTime(t);
}

void SetTaskRunner(TaskRunner run) { Runner() = std::move(run); }

// --- TSet ---

TSet::TSet(const std::string& fileName) : FileName(fileName) {
  Config = std::make_unique<TConfig>(fileName);
  Config->OnLoad = [this](const std::string& text) { LoadFromText(text); };
  Config->OnSave = [this](std::string& text) { SaveToText(text); };
  try {
    Config->Load();
  } catch (...) {
    // Half-read values must never reach the file: the task forgets where it lives.
    loadFailed_ = true;
    Config->Kind = TConfig::kNowhere;
    Report(std::current_exception());
  }
}

TSet::~TSet() {
  Config.reset();  // its final save still needs the fields, so it goes first
}

void TSet::SaveToText(std::string& text) { text = SaveSetText(*this, DecimalSeparator()); }

void TSet::LoadFromText(const std::string& text) {
  static_cast<SetFields&>(*this) =
      LoadSetText(text, DecimalSeparator(), [] { return DefaultZipName(GetHostDir()); });
}

void TSet::Save() { Config->Save(); }

void TSet::Discard() { Config->Kind = TConfig::kNowhere; }

void TSet::RunIfDue() {
  if (Config->Kind == TConfig::kNowhere) return;  // load failed, or discarded
  if (IsDue(AutoMode, AutoDays, LastBackup, Now()) && Runner()) {
    try {
      Runner()(*this);
    } catch (...) {
      // The task is saved whatever became of its run; the run's error goes on up.
      const std::exception_ptr runError = std::current_exception();
      try {
        Save();
      } catch (...) {
        Report(std::current_exception());
      }
      std::rethrow_exception(runError);
    }
  }
  Save();
}

void Discard(std::unique_ptr<TSet> set) {
  if (set) set->Discard();
}

// --- TSets ---

TSets::TSets(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*.set").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsTaskFileName(found.cFileName)) continue;
    auto set = std::make_unique<TSet>(folder + "\\" + found.cFileName);
    if (set->LoadFailed()) continue;  // reported; dropping it writes nothing
    items_.push_back(std::move(set));
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

TSets::~TSets() {
  while (!items_.empty()) {
    std::unique_ptr<TSet> set = std::move(items_.back());
    items_.pop_back();
    try {
      set->Save();
    } catch (...) {
      Report(std::current_exception());
      set->Discard();  // one message per file is enough
    }
    set.reset();  // saves once more
  }
}

int TSets::IndexOf(const TSet* set) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == set) return static_cast<int>(i);
  return -1;
}

void TSets::Add(std::unique_ptr<TSet> set) {
  if (set) items_.push_back(std::move(set));
}

std::unique_ptr<TSet> TSets::Remove(TSet* set) {
  const int i = IndexOf(set);
  if (i < 0) return nullptr;
  std::unique_ptr<TSet> taken = std::move(items_[static_cast<size_t>(i)]);
  items_.erase(items_.begin() + i);
  return taken;
}

void TSets::RunDueTasks() {
  // By index: a run lets messages through, and the task list may change meanwhile.
  for (size_t i = 0; i < items_.size(); ++i) {
    TSet* set = items_[i].get();
    if (set->Active) win::App().Guard([set] { set->RunIfDue(); });
  }
}

}  // namespace vk::tasks
