#pragma once
// TPackForm: the backup run and its small progress window "Sicherung erstellen".
// It exports the host's registry branch with REGEDIT, lists the files of the task's
// directories and has its archive component pack them into one ZIP archive.
#include <future>
#include <string>
#include <vector>

#include "backup/run_form.h"
#include "tasks/sets.h"
#include "win/handles.h"

namespace vk::backup {

class TPackForm : public TRunForm {
 public:
  TPackForm();
  ~TPackForm() override;

  // Runs one task from end to end. True when the archive was written without cancel
  // and without any problem; false when the run stopped early, was cancelled or
  // failed (a failure has been told in one "Fehler" box).
  bool RunTask(tasks::TSet& task);
  // Packs the files lying directly in each directory of `dirs` (a comma list, relative
  // to the host directory), and "kestrone.reg", into `archive`.
  void PackFiles(const std::string& archive, const std::string& dirs);
  // Where a backup that lacks files or the registry is kept, beside `archive`:
  // "KestroneBackup (unvollständig).zip" for "KestroneBackup.zip".
  static std::string IncompleteArchive(const std::string& archive);

 private:
  // The save dialog: false when the user cancelled.
  bool AskArchiveName(const std::string& startDir, std::string* archive);
  // After a cancel: asks whether the backup is to be thrown away, and settles which
  // archive stays.
  void SettleCancelledArchive(const std::string& archive);
  // Moves the written archive `from` to the incomplete name and says so in the report.
  void KeepIncomplete(const std::string& archive, const std::string& from);
  // Makes the checked archive `from` the newest backup `archive`; with generations,
  // the one it replaces is kept under its time's name and the oldest beyond them go.
  void MakeNewest(const std::string& archive, const std::string& from);

  struct ListedFiles {
    std::vector<std::string> specs;  // the engine's specifications, directory by directory
    bool regListed = false;          // the registry file is among the files they name
  };
  // Specifications for the files lying directly in each directory of `dirs`, but for
  // those in `notPacked` (full paths).
  ListedFiles ListFiles(const std::string& dirs, const std::vector<std::wstring>& notPacked);

  // Starts REGEDIT's export of the host's branch into regFile on a thread of its own.
  void StartExport(const std::string& regFile);
  // Waits for the export started by RunTask, which runs while the files are
  // listed and packed, and reports what went wrong with it; nothing when none is running.
  void FinishExport();

  // The archive's own failures are not a file's: kept apart, to be told as the
  // failure of the archive the user chose.
  void EngineProblem(int code, const std::string& message) override;

  std::string hostDir_;
  bool showPending_ = false;  // the window is shown with the engine's first report
  void ShowPending();
  bool incomplete_ = false;  // this run kept an incomplete backup
  // Complete backups kept of a fixed archive name, the newest included; 0 when the
  // name was asked for, and older ones are left alone.
  int generations_ = 0;
  // Archives a new backup has made redundant, deleted once the run is over (or the
  // program ends): freeing a large file takes a while that nobody needs to wait for.
  std::vector<std::string> redundant_;
  void DeleteRedundant();
  std::string archiveFailure_;  // why the engine could not write the archive
  // REGEDIT's export: it waits on a thread of its own for the process, and sets the
  // event once it has ended; the engine packs its file then, after the folders.
  win::ScopedHandle exported_;
  std::future<int> export_;
  std::string exportFile_;
};

// Created by the start-up, once.
extern TPackForm* PackForm;

}  // namespace vk::backup
