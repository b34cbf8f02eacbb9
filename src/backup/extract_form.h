#pragma once
// TExtractForm: the restore run and its small progress window "Sicherung
// zurückschreiben". It extracts a backup archive into the host directory and imports
// its "kestrone.reg" with REGEDIT, provided that file touches nothing but the host's
// own registry branch.
#include <string>

#include "backup/run_form.h"
#include "core/restore_choice.h"

namespace vk::backup {

class TExtractForm : public TRunForm {
 public:
  TExtractForm();

  // The whole run. Errors that end it early (the host directory cannot be made
  // current, the archive cannot be read) are raised to the caller; problems met on
  // the way are told in one "Fehler" box at the end.
  void RunRestore();
  // Makes the host directory current and extracts the whole archive into it.
  void ExtractArchive(const std::string& archive);
  // Imports `file` with REGEDIT; its exit code, or -1 when it did not start.
  int ImportRegistry(const std::string& file);

 private:
  // The open dialog, offering `fileName` first: false when the user cancelled.
  // `chooseFolders`: its check box for a restore of chosen folders.
  bool AskArchive(const std::string& fileName, std::string* archive, bool* chooseFolders);
  // Whether `file` names only keys of the host's branch; a refusal goes into the report.
  bool RegistryFileIsHosts(const std::string& file);

  std::string hostDir_;
  // What this run writes back: everything unless the user chose folders.
  RestoreSelection selection_;
};

// Created by the start-up, once.
extern TExtractForm* ExtractForm;

}  // namespace vk::backup
