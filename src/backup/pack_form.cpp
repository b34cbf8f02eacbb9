#include "backup/pack_form.h"

#include <commdlg.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "backup/restore_plan.h"
#include "core/comma_list.h"
#include "core/errors.h"
#include "core/generation_names.h"
#include "core/stage_log.h"
#include "tasks/hostdir.h"
#include "win/application.h"
#include "win/late_library.h"
#include "win/msgbox.h"
#include "win/syserror.h"

namespace vk::backup {

TPackForm* PackForm = nullptr;

namespace {

const char* const kPackSteps[TRunForm::kSteps] = {
    "Abfragen der Einstellungen",
    "Exportieren der Daten aus der Registrierungsdatenbank",
    "Sicherung aller Dateien ins ZIP-Archiv",
};

// The new archive is written under this name beside the old one and moved over it
// only when the whole run went well, so that the previous backup survives failures.
constexpr char kWorkSuffix[] = ".vknew";
// A second name of the backup being replaced, so that the move over it does not
// free its data: that takes a while for a large archive, and is done once the run is over.
constexpr char kReplacedSuffix[] = ".vkold";

void DeleteIfThere(const std::string& path) {
  if (FileExists(path)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
}

// A name as the file system compares it, letter case folded; kept in sets, as a
// host directory holds thousands of files.
std::wstring Folded(const std::wstring& name) {
  if (name.empty()) return name;
  std::wstring out(name.size(), L'\0');
  const int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(), static_cast<int>(name.size()),
                             out.data(), static_cast<int>(out.size()));
  return n == static_cast<int>(name.size()) ? out : name;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return full;
}

std::wstring ModulePath(HMODULE module) {
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
  return FullPath(std::wstring(buffer.data(), n));
}

// The older backups kept beside `archive`, as full paths.
std::vector<std::string> OlderGenerations(const std::string& archive) {
  const std::string dir = tasks::ExtractFileDir(archive);
  const std::string name = archive.substr(dir.size() + (dir.size() < archive.size() ? 1 : 0));
  std::vector<std::string> found;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsGenerationOf(name, entry.cFileName))
      found.push_back(dir + "\\" + entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return found;
}

// The name an archive gets when it becomes an older backup: the local time it was
// written. Two backups within one second take the next free second.
std::string OlderName(const std::string& archive) {
  FILETIME written{}, local{};
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(archive.c_str(), GetFileExInfoStandard, &data)) written = data.ftLastWriteTime;
  FileTimeToLocalFileTime(&written, &local);
  ULARGE_INTEGER t;
  t.LowPart = local.dwLowDateTime;
  t.HighPart = local.dwHighDateTime;
  for (;; t.QuadPart += 10000000) {
    local.dwLowDateTime = t.LowPart;
    local.dwHighDateTime = t.HighPart;
    SYSTEMTIME st;
    FileTimeToSystemTime(&local, &st);
    LocalTime lt;
    lt.year = st.wYear, lt.month = st.wMonth, lt.day = st.wDay;
    lt.hour = st.wHour, lt.minute = st.wMinute, lt.second = st.wSecond;
    const std::string name = GenerationName(archive, lt);
    if (!FileExists(name)) return name;
  }
}

// A second name for the backup about to be replaced, when it can be replaced at all:
// one held open by another program keeps its name and gets no other.
bool LinkReplaced(const std::string& archive, const std::string& replaced) {
  HANDLE file = CreateFileA(archive.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return CreateHardLinkA(replaced.c_str(), archive.c_str(), nullptr);
}

// Files that never go into a backup: the running program's executable and its two
// engine libraries (a restore could not write them while the program runs), and
// the archive with everything the run writes beside it (else each backup would
// hold the one before it), and the restores' undo copy.
std::vector<std::wstring> NotPacked(const std::string& archive, const std::string& hostDir) {
  std::vector<std::wstring> files = {ModulePath(nullptr)};
  for (const char* library : {"VKZIP.DLL", "VKUNZIP.DLL"})
    if (HMODULE module = GetModuleHandleA(library)) files.push_back(ModulePath(module));
  const std::string work = archive + kWorkSuffix;
  for (const std::string& f : {archive, archive + kReplacedSuffix, work, work + engine::kTempSuffix, work + engine::kCancelledSuffix,
                               TPackForm::IncompleteArchive(archive), UndoCopyPath(hostDir),
                               UndoCopyWorkPath(hostDir)})
    files.push_back(FullPath(Wide(f)));
  for (const std::string& older : OlderGenerations(archive)) files.push_back(FullPath(Wide(older)));
  return files;
}

// A relative directory as the archive should store it: "." steps and empty steps
// dropped, so that ".\Filebase" and "Filebase\" both give "Filebase" and "." gives "".
std::string StoredDir(const std::string& dir) {
  std::string out, part;
  auto flush = [&] {
    if (!part.empty() && part != ".") out += (out.empty() ? "" : "\\") + part;
    part.clear();
  };
  for (char c : dir) {
    if (c == '\\' || c == '/')
      flush();
    else
      part += c;
  }
  flush();
  return out;
}

// What the engine says went wrong with the archive, without the name it gives it
// (the run's work file, which the user never chose): the text after the name's
// first ": ".
std::string EngineReason(int code, const std::string& message, const std::string& work) {
  const std::string named = "\"" + work + "\"";
  const size_t at = message.find(named);
  const size_t colon = message.find(": ", at == std::string::npos ? 0 : at + named.size());
  std::string reason = colon == std::string::npos ? message : message.substr(colon + 2);
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  return code == engine::kErrVerify ? "die Prüfung nach dem Schreiben fand einen Fehler (" + reason + ")"
                                    : reason;
}

// Whether an archive holds an entry, or one other than the file named `besides`. One
// that cannot be read counts as `ifUnreadable`: holding some where nothing may be
// thrown away on a guess, none where it would be kept instead of a readable one.
bool HoldsEntries(const std::string& path, bool ifUnreadable, const char* besides = nullptr) {
  try {
    TZipArchiver reader;
    reader.SetZipFilename(path);
    for (const ZipDirEntry& e : reader.DirEntries())
      if (!besides || _stricmp(e.name.c_str(), besides) != 0) return true;
    return false;
  } catch (const std::exception&) {
    return ifUnreadable;
  }
}

bool Replace(const std::string& from, const std::string& to, std::string* why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  *why = win::SysErrorMessage(GetLastError());
  return false;
}

}  // namespace

TPackForm::TPackForm()
    : TRunForm("Sicherung erstellen", "Vaultkin sichert nun Ihre Kestrone 95 Installation.", 40,
               RunPicture::kPack, kPackSteps, 253) {
  ZipArchiver1.AddOptions = {AddDirNames, AddRecurseDirs};
  ZipArchiver1.ExtrOptions = {};
  ZipArchiver1.OnProgress = [this](ProgressType t, const std::string& name, int size) {
    ShowPending();
    ZipArchiver1Progress(t, name, size);
    // REGEDIT ends while the files are packed: its step is marked done then.
    if (export_.valid() && export_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) FinishExport();
  };
}

TPackForm::~TPackForm() { DeleteRedundant(); }

void TPackForm::ShowPending() {
  if (!showPending_) return;
  showPending_ = false;
  Show();
  Pump();
}

bool TPackForm::RunTask(tasks::TSet& task) {
  if (Running()) return false;
  RunScope running(*this);
  hostDir_ = tasks::GetHostDir();
  if (hostDir_.empty()) {
    win::ShowError("Konnte keine Kestrone 95 Installation finden.");
    Close();
    return false;
  }
  LogStage("run");
  report_.Clear();
  incomplete_ = false;
  export_ = {};  // an export left by a run that ended in an exception: waited for, forgotten
  const std::string regFile = task.SaveRegistry ? hostDir_ + "\\" + kRegFileName : "";
  if (!task.DefZipName.empty() && task.DefZipName[0] == '"') task.DefZipName = Unquote(task.DefZipName);
  std::string archive = task.DefZipName;
  std::string dir = tasks::ExtractFileDir(archive);
  // With the archive's name fixed and no registry file to ask about, nothing comes
  // between here and the engine: REGEDIT starts before the window is drawn, and the
  // window is shown with the engine's first report, as mapping it takes a while
  // that the engine spends reading the folders.
  const bool asks = !task.UseDefZipName || !tasks::DirExists(dir) || (!regFile.empty() && FileExists(regFile));
  if (!asks && !regFile.empty()) StartExport(regFile);
  ResetMarks();
  showPending_ = !asks;
  if (!showPending_) {
    Show();
    Pump();
  }

  task.LastBackup = tasks::Now();
  ShowArrow(1, true);
  generations_ = std::max<int32_t>(task.Generations, 1);
  if (!task.UseDefZipName || !tasks::DirExists(dir)) {
    generations_ = 0;  // the user picks the name, and decides what becomes of the old file
    ShowPending();      // the directory went away meanwhile
    if (!AskArchiveName(dir, &archive)) {
      // The directory went away since the export began: the export goes too.
      if (export_.valid()) {
        export_.get();
        DeleteIfThere(regFile);
      }
      Hide();
      return false;
    }
    dir = tasks::ExtractFileDir(archive);
  }
  ShowHook(1, true);
  ShowArrow(2, true);

  if (task.SaveRegistry && !export_.valid()) {
    if (FileExists(regFile)) {
      ShowPending();
      std::string question = "Die Datei \"" + regFile +
                             "\" existiert bereits. Soll die vorhandene Datei überschrieben werden?";
      if (!win::Confirm(question)) {
        Hide();
        return false;
      }
      // Gone before the export, so that a failed export cannot pass the old file off
      // as the new one.
      DeleteIfThere(regFile);
    }
    StartExport(regFile);
  } else if (!task.SaveRegistry) {
    ShowArrow(2, false);
    ShowArrow(3, true);
  }

  if (!FileExists(archive)) tasks::MakeDirs(dir);
  PackFiles(archive, task.SaveFiles ? task.InclDirs : "");
  ShowPending();  // no engine call, or one that reported nothing
  FinishExport();
  ShowHook(3, true);
  if (!regFile.empty()) DeleteIfThere(regFile);

  bool failed = !report_.Empty();
  if (failed)
    win::ShowError(report_.Text(incomplete_ ? "Die Sicherung ist unvollständig." : "Die Sicherung ist fehlgeschlagen.",
                                "gesichert"));
  Hide();
  LogStage("run-end");
  return !Canceled && !failed;
}

void TPackForm::PackFiles(const std::string& archive, const std::string& dirs) {
  if (hostDir_.empty()) hostDir_ = tasks::GetHostDir();
  if (!SetCurrentDirectoryA(hostDir_.c_str())) win::RaiseLastOSError();

  const std::string work = archive + kWorkSuffix;
  const std::string part = work + engine::kCancelledSuffix;
  // Leftovers of a run that was killed.
  DeleteIfThere(work);
  DeleteIfThere(part);
  DeleteIfThere(archive + kReplacedSuffix);
  ZipArchiver1.SetZipFilename(work);

  ListedFiles listed = ListFiles(dirs, NotPacked(archive, hostDir_));
  std::vector<std::string>& specs = listed.specs;
  const bool foldersListed = !specs.empty();
  LogStage("listed");
  // The registry file goes in at the top. While REGEDIT still writes it, the engine
  // packs the folders and takes the file once REGEDIT has ended (the host directory's
  // own listing leaves it out); an engine told about a file that is not there would
  // report a problem, so a missing one is left out.
  const std::string regFile = hostDir_ + "\\" + kRegFileName;
  if (export_.valid() && exported_) {
    specs.push_back(engine::kAwaitedSpecMark + std::to_string(reinterpret_cast<uintptr_t>(exported_.Get())) +
                    engine::kAwaitedSpecMark + kRegFileName);
  } else if (!listed.regListed && FileExists(regFile)) {
    specs.push_back(kRegFileName);
  }
  Canceled = false;
  archiveFailure_.clear();
  const char* const nothingFound = "Es wurde keine Datei zum Sichern gefunden; es wurde kein ZIP-Archiv geschrieben.";
  if (specs.empty()) {
    report_.RunProblem(nothingFound);
    return;
  }
  // The backup being replaced: what has not changed since is taken over from it.
  if (FileExists(archive))
    specs.insert(specs.begin(), engine::kReferenceSpecMark + EngineSpec(FullPath(Wide(archive))));
  ZipArchiver1.FSpecArgs = specs;
  ZipArchiver1.AddOptions.Exclude(AddRecurseDirs);
  ZipArchiver1.Add();
  LogStage("added");

  if (Canceled) {
    SettleCancelledArchive(archive);
    return;
  }
  const std::string kept =
      FileExists(archive) ? "; die vorherige Sicherung bleibt unverändert." : ".";
  if (!ZipArchiver1.Aborted() && ZipArchiver1.DllResult() == 0) {
    // The included directories held no file (the engine lists them).
    report_.RunProblem(nothingFound);
  } else if (ZipArchiver1.Aborted() || ZipArchiver1.DllResult() <= 0 || !FileExists(work)) {
    report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" konnte nicht geschrieben werden" +
                       (archiveFailure_.empty() ? "" : ": " + archiveFailure_) + kept);
  } else if (!report_.Empty()) {
    // Some files or the registry are missing: the newest data are still worth
    // keeping, but not in place of the last complete backup.
    KeepIncomplete(archive, work);
  } else if (foldersListed && ZipArchiver1.DllResult() == 1 && !HoldsEntries(work, false, kRegFileName) &&
             HoldsEntries(archive, false, kRegFileName)) {
    // Every included folder is gone or empty, as after a lost disk or a deleted
    // installation: the registry data alone must not take the place of a backup that
    // holds the installation's files.
    report_.RunProblem("In den Verzeichnissen der Aufgabe wurde keine Datei gefunden; gesichert wurden nur "
                       "die Registrierungsdaten.");
    KeepIncomplete(archive, work);
  } else {
    MakeNewest(archive, work);
  }
  DeleteIfThere(work);
  DeleteIfThere(part);
  // The engine's own work file, left only when a fault ended its call.
  DeleteIfThere(work + engine::kTempSuffix);
}

TPackForm::ListedFiles TPackForm::ListFiles(const std::string& dirs, const std::vector<std::wstring>& notPacked) {
  // The engine lists each directory itself: one read of it gives every file with the
  // times that tell whether the last backup's data can be taken over, where a list
  // of names made here would have each file looked up once more.
  ListedFiles files;
  std::unordered_set<std::wstring> listedDirs;
  for (const std::string& d : ReadCommaList(dirs)) {
    const std::wstring stored = Wide(StoredDir(d));
    // Only below the host directory: a drive in the name makes it no directory there.
    if (stored.find(L':') != std::wstring::npos) continue;
    // A directory listed twice ("." and ".\") must not give entries of the same name.
    if (!listedDirs.insert(Folded(stored)).second) continue;
    files.regListed = files.regListed || stored.empty();
    files.specs.push_back(engine::kFolderSpecMark + EngineSpec(stored));
  }
  if (files.specs.empty()) return files;
  for (const std::wstring& path : notPacked) files.specs.push_back(engine::kExcludedSpecMark + EngineSpec(path));
  return files;
}

void TPackForm::StartExport(const std::string& regFile) {
  // REGEDIT takes a while to start: the files are listed and packed meanwhile.
  export_ = {};
  exportFile_ = regFile;
  exported_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  export_ = std::async(std::launch::async, [this, regFile, exported = exported_.Get()] {
    struct Ended {
      HANDLE event;
      ~Ended() {
        if (event) SetEvent(event);
      }
    } ended{exported};
    LogStage("regedit");
    const int code = ExportRegistry(regFile, kHostBranch);
    LogStage("regedit-end");
    return code;
  });
}

void TPackForm::FinishExport() {
  if (!export_.valid()) return;
  const int code = export_.get();
  if (code == -1)
    report_.RunProblem("REGEDIT konnte nicht gestartet werden; die Registrierungsdaten wurden "
                       "nicht gesichert.");
  else if (!FileExists(exportFile_))
    report_.RunProblem(std::string("REGEDIT hat die Registrierungsdaten \"") + kHostBranch +
                       "\" nicht exportiert.");
  ShowHook(2, true);
  ShowArrow(3, true);
}

std::string TPackForm::IncompleteArchive(const std::string& archive) {
  const size_t slash = archive.find_last_of("\\/:");
  const size_t dot = archive.rfind('.');
  const size_t cut = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? archive.size() : dot;
  return archive.substr(0, cut) + " (unvollständig)" + archive.substr(cut);
}

void TPackForm::MakeNewest(const std::string& archive, const std::string& from) {
  std::string why, older;
  if (generations_ > 1 && FileExists(archive)) {
    older = OlderName(archive);
    if (!Replace(archive, older, &why)) {
      report_.RunProblem("Die vorherige Sicherung konnte nicht als \"" + older + "\" aufbewahrt werden: " + why);
      return;
    }
  }
  // Without a second name (a file system without links) the move frees the old data itself.
  const std::string replaced = archive + kReplacedSuffix;
  const bool linked = older.empty() && LinkReplaced(archive, replaced);
  if (!Replace(from, archive, &why)) {
    report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" konnte nicht ersetzt werden: " + why);
    if (!older.empty()) Replace(older, archive, &why);
    if (linked) DeleteIfThere(replaced);
    return;
  }
  redundant_.push_back(IncompleteArchive(archive));
  if (linked) redundant_.push_back(replaced);
  if (generations_ > 0)
    for (const std::string& beyond : GenerationsBeyond(OlderGenerations(archive), generations_ - 1))
      redundant_.push_back(beyond);
  win::App().WhenIdle([this] { DeleteRedundant(); });
}

void TPackForm::DeleteRedundant() {
  for (const std::string& path : redundant_) DeleteIfThere(path);
  redundant_.clear();
}

void TPackForm::KeepIncomplete(const std::string& archive, const std::string& from) {
  const std::string incomplete = IncompleteArchive(archive);
  std::string why;
  if (!Replace(from, incomplete, &why)) {
    report_.RunProblem("Die unvollständige Sicherung konnte nicht als \"" + incomplete +
                       "\" gespeichert werden: " + why);
    return;
  }
  incomplete_ = true;
  report_.RunProblem("Die unvollständige Sicherung wurde als \"" + incomplete + "\" gespeichert.");
  report_.RunProblem(FileExists(archive)
                         ? "Die letzte vollständige Sicherung \"" + archive + "\" bleibt unverändert."
                         : "Eine vollständige Sicherung \"" + archive + "\" gibt es noch nicht.");
}

void TPackForm::SettleCancelledArchive(const std::string& archive) {
  const std::string work = archive + kWorkSuffix;
  const std::string part = work + engine::kCancelledSuffix;
  // What the engine left: the archive of the files packed so far, or, when the
  // cancel came after its last file, the whole new archive.
  std::string incomplete = FileExists(part) ? part : (FileExists(work) ? work : "");
  if (!win::Confirm("Der Sicherungungsvorgang wurde abgebrochen. Soll die Sicherung gelöscht werden?")) {
    // Kept, but never in place of the last complete backup: a cancel may have come
    // after the first few files. An archive of no file is worth nothing and must
    // not take the place of an earlier incomplete backup that holds data.
    const std::string target = IncompleteArchive(archive);
    std::string why;
    if (incomplete.empty() || !HoldsEntries(incomplete, /*ifUnreadable=*/true))
      win::ShowInformation("Es wurde keine unvollständige Sicherung gespeichert: der Abbruch kam, bevor eine "
                           "Datei gesichert und geprüft war.");
    else if (Replace(incomplete, target, &why))
      win::ShowInformation("Die bis zum Abbruch gesicherten Dateien wurden als \"" + target + "\" gespeichert.");
    else
      report_.RunProblem("Die unvollständige Sicherung konnte nicht als \"" + target +
                         "\" gespeichert werden: " + why);
  }
  DeleteIfThere(work);
  DeleteIfThere(part);
}

void TPackForm::EngineProblem(int code, const std::string& message) {
  if (code != engine::kErrArchiveWrite && code != engine::kErrVerify) {
    report_.FileProblem(message);
    return;
  }
  if (archiveFailure_.empty())
    archiveFailure_ = EngineReason(code, message, ZipArchiver1.ZipFilename());
}

bool TPackForm::AskArchiveName(const std::string& startDir, std::string* archive) {
  std::vector<char> file(32768, '\0');
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Handle();
  ofn.lpstrFilter = "ZIP-Archive (*.zip)\0*.zip\0Alle Dateien (*.*)\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = startDir.empty() ? nullptr : startDir.c_str();
  ofn.lpstrTitle = "Sicherung speichern unter...";
  ofn.lpstrDefExt = "zip";
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  if (!win::Late<decltype(GetSaveFileNameA)>("comdlg32.dll", "GetSaveFileNameA")(&ofn)) return false;
  *archive = file.data();
  return true;
}

}  // namespace vk::backup
