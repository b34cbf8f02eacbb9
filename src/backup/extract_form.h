#pragma once
// TExtractForm: the restore run and its small progress window "Sicherung
// zurückschreiben". It keeps what it will overwrite in an undo copy, extracts a backup
// archive into the host directory and imports its "kestrone.reg" with REGEDIT,
// provided that file touches nothing but the host's own registry branch.
#include <string>

#include "backup/restore_plan.h"
#include "backup/run_form.h"
#include "core/restore_choice.h"

namespace vk::backup {

class TExtractForm : public TRunForm {
 public:
  TExtractForm();

  // The whole run. Before anything is written, the files it would replace and the
  // registry go into the undo copy. Errors that end it early (the host directory
  // cannot be made current, the archive cannot be read) are raised to the caller;
  // problems met on the way are told in one "Fehler" box at the end, a run without
  // any in a short "Information" box with what it wrote.
  void RunRestore();
  // Makes the host directory current and extracts the archive into it: what the
  // plan found missing or different, or, without a plan, every chosen file.
  void ExtractArchive(const std::string& archive, const RestorePlan* plan = nullptr);
  // Imports `file` with REGEDIT; its exit code, or -1 when it did not start.
  int ImportRegistry(const std::string& file);

 private:
  // The open dialog, offering `fileName` first: false when the user cancelled.
  // `chooseFolders`: its check box for a restore of chosen folders.
  bool AskArchive(const std::string& fileName, std::string* archive, bool* chooseFolders);
  // Before anything is written: compares the archive with the disk, asks before
  // files newer on disk are overwritten, and writes the undo copy (*written tells
  // whether one was needed). False when the restore must not start; the user has
  // been told why.
  bool PrepareUndo(const std::string& archive, RestorePlan* plan, UndoCopy* undo, bool* written);
  // Whether "Abbrechen" was pressed while nothing was written yet; then the user is
  // told that nothing changed.
  bool StoppedBeforeAnyChange();
  // Whether `file` names only keys of the host's branch; a refusal goes into the report.
  bool RegistryFileIsHosts(const std::string& file);

  std::string hostDir_;
  // What this run writes back: everything unless the user chose folders.
  RestoreSelection selection_;
};

// Created by the start-up, once.
extern win::FormWhenNeeded<TExtractForm> ExtractForm;

}  // namespace vk::backup
