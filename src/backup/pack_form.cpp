#include "backup/pack_form.h"

#include <commdlg.h>

#include <vector>

#include "core/comma_list.h"
#include "core/errors.h"
#include "tasks/hostdir.h"
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

void DeleteIfThere(const std::string& path) {
  if (FileExists(path)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
}

std::string FullPath(const std::string& path) {
  DWORD n = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::string full(n, '\0');
  n = GetFullPathNameA(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return full;
}

std::string ModulePath(HMODULE module) {
  std::vector<char> buffer(32768);
  DWORD n = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
  return FullPath(std::string(buffer.data(), n));
}

// The files of the running program: its executable and the two engine libraries. They
// are not packed, since a restore could not write them while the program runs.
std::vector<std::string> OwnFiles() {
  std::vector<std::string> files = {ModulePath(nullptr)};
  for (const char* library : {"VKZIP.DLL", "VKUNZIP.DLL"})
    if (HMODULE module = GetModuleHandleA(library)) files.push_back(ModulePath(module));
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
  report_.Clear();
  ResetMarks();
  Show();
  Pump();

  task.LastBackup = tasks::Now();
  ShowArrow(1, true);
  if (!task.DefZipName.empty() && task.DefZipName[0] == '"') task.DefZipName = Unquote(task.DefZipName);
  std::string archive = task.DefZipName;
  std::string dir = tasks::ExtractFileDir(archive);
  if (!task.UseDefZipName || !tasks::DirExists(dir)) {
    if (!AskArchiveName(dir, &archive)) {
      Hide();
      return false;
    }
    dir = tasks::ExtractFileDir(archive);
  }
  ShowHook(1, true);
  ShowArrow(2, true);

  std::string regFile;
  if (task.SaveRegistry) {
    regFile = hostDir_ + "\\" + kRegFileName;
    if (FileExists(regFile)) {
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
    if (ExportRegistry(regFile, kHostBranch) == -1)
      report_.RunProblem("REGEDIT konnte nicht gestartet werden; die Registrierungsdaten wurden "
                         "nicht gesichert.");
    else if (!FileExists(regFile))
      report_.RunProblem(std::string("REGEDIT hat die Registrierungsdaten \"") + kHostBranch +
                         "\" nicht exportiert.");
    ShowHook(2, true);
  } else {
    ShowArrow(2, false);
  }

  ShowArrow(3, true);
  if (!FileExists(archive)) tasks::MakeDirs(dir);
  PackFiles(archive, task.SaveFiles ? task.InclDirs : "");
  ShowHook(3, true);
  if (!regFile.empty()) DeleteIfThere(regFile);

  bool failed = !report_.Empty();
  if (failed) win::ShowError(report_.Text("Die Sicherung ist fehlgeschlagen.", "gesichert"));
  Hide();
  return !Canceled && !failed;
}

int TPackForm::ExportRegistry(const std::string& file, const std::string& branch) {
  return RunRegedit("/E \"" + file + "\" \"" + branch + "\"");
}

void TPackForm::PackFiles(const std::string& archive, const std::string& dirs) {
  if (hostDir_.empty()) hostDir_ = tasks::GetHostDir();
  if (!SetCurrentDirectoryA(hostDir_.c_str())) win::RaiseLastOSError();

  const std::string work = archive + kWorkSuffix;
  const std::string part = work + engine::kCancelledSuffix;
  // Leftovers of a run that was killed.
  DeleteIfThere(work);
  DeleteIfThere(part);
  ZipArchiver1.SetZipFilename(work);

  const std::vector<std::string> own = OwnFiles();
  auto isOwn = [&own](const std::string& path) {
    for (const std::string& f : own)
      if (SameTextAnsi(path, f)) return true;
    return false;
  };
  std::vector<std::string> specs;
  auto listed = [&specs](const std::string& name) {
    for (const std::string& s : specs)
      if (SameTextAnsi(s, name)) return true;
    return false;
  };
  for (const std::string& d : ReadCommaList(dirs)) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((hostDir_ + "\\" + d + "\\*.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      std::string name = found.cFileName;
      // Compared as full paths: ".\Plugins\x.exe" is the same file as "Plugins\x.exe".
      if (isOwn(FullPath(hostDir_ + "\\" + d + "\\" + name))) continue;
      std::string stored = StoredDir(d);
      std::string spec = stored.empty() ? name : stored + "\\" + name;
      // A directory listed twice ("." and ".\") must not give entries of the same name.
      if (!listed(spec)) specs.push_back(spec);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  // The registry file goes in at the top; an engine told about a file that is not
  // there would report a problem, so a missing one is left out.
  if (!listed(kRegFileName) && FileExists(hostDir_ + "\\" + kRegFileName)) specs.push_back(kRegFileName);
  ZipArchiver1.FSpecArgs = specs;
  ZipArchiver1.AddOptions.Exclude(AddRecurseDirs);

  Canceled = false;
  if (ZipArchiver1.FSpecArgs.empty()) {
    report_.RunProblem("Es wurde keine Datei zum Sichern gefunden; es wurde kein ZIP-Archiv geschrieben.");
    return;
  }
  ZipArchiver1.Add();

  if (Canceled) {
    SettleCancelledArchive(archive);
    return;
  }
  const std::string kept =
      FileExists(archive) ? "; die vorherige Sicherung bleibt unverändert." : ".";
  if (ZipArchiver1.Aborted() || ZipArchiver1.DllResult() <= 0 || !FileExists(work)) {
    report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" konnte nicht geschrieben werden" + kept);
  } else if (!report_.Empty()) {
    report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" wurde nicht ersetzt" + kept);
  } else {
    std::string why;
    if (!Replace(work, archive, &why))
      report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" konnte nicht ersetzt werden: " + why);
  }
  DeleteIfThere(work);
  DeleteIfThere(part);
}

void TPackForm::SettleCancelledArchive(const std::string& archive) {
  const std::string work = archive + kWorkSuffix;
  const std::string part = work + engine::kCancelledSuffix;
  // What the engine left: the archive of the files packed so far, or, when the
  // cancel came after its last file, the whole new archive.
  std::string incomplete = FileExists(part) ? part : (FileExists(work) ? work : "");
  if (win::Confirm("Der Sicherungungsvorgang wurde abgebrochen. Soll die Sicherung gelöscht werden?")) {
    // Thrown away: the previous backup stays.
  } else if (!incomplete.empty()) {
    std::string why;
    if (!Replace(incomplete, archive, &why))
      report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" konnte nicht ersetzt werden: " + why);
  }
  DeleteIfThere(work);
  DeleteIfThere(part);
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
  if (!GetSaveFileNameA(&ofn)) return false;
  *archive = file.data();
  return true;
}

}  // namespace vk::backup
