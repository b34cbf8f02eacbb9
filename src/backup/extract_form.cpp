#include "backup/extract_form.h"

#include <commdlg.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "backup/registry_copy.h"
#include "backup/restore_choice_form.h"
#include "core/errors.h"
#include "core/regfile.h"
#include "core/restore_texts.h"
#include "core/stage_log.h"
#include "tasks/hostdir.h"
#include "win/late_library.h"
#include "win/msgbox.h"
#include "win/syserror.h"

namespace vk::backup {

win::FormWhenNeeded<TExtractForm> ExtractForm;

namespace {

const char* const kExtractSteps[TRunForm::kSteps] = {
    "Abfragen der Einstellungen",
    "Extrahieren aller Dateien aus dem ZIP-Archiv",
    "Importieren der Daten in der Registrierungsdatenbank",
};

}  // namespace

TExtractForm::TExtractForm()
    : TRunForm("Sicherung zurückschreiben", "Vaultkin schreibt nun die Kestrone 95 Sicherung zurück.",
               42, RunPicture::kExtract, kExtractSteps, 65) {
  ZipArchiver1.AddOptions = {};
  ZipArchiver1.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
}

void TExtractForm::RunRestore() {
  if (Running()) return;
  RunScope running(*this);
  // A press from here on counts, also one seen before the first file: the undo copy
  // and the extraction must not clear it.
  Canceled = false;
  report_.Clear();
  ResetMarks();
  Show();
  hostDir_ = tasks::GetHostDir();
  if (hostDir_.empty()) {
    Close();
    return;
  }
  ShowArrow(1, true);
  std::string archive;
  bool chooseFolders = false;
  selection_ = {};
  if (!AskArchive(hostDir_ + "\\Backup\\KestroneBackup.zip", &archive, &chooseFolders) ||
      (chooseFolders && !ChooseRestore(archive, hostDir_, &selection_))) {
    Close();
    return;
  }
  LogStage("restore-chosen");
  ShowHook(1, true);
  RestorePlan plan;
  UndoCopy undo(hostDir_, ZipArchiver1,
                [](const std::string& file, std::string* why) { return WriteRegistryCopy(file, kHostBranch, why); });
  bool undoWritten = false;
  if (!PrepareUndo(archive, &plan, &undo, &undoWritten)) {
    Hide();
    return;
  }
  LogStage("restore-planned");
  ShowArrow(2, true);
  // Pressed after the undo copy's last report: nothing is written yet, and the copy,
  // which holds what is there now, does not replace the previous one.
  if (StoppedBeforeAnyChange()) {
    Hide();
    return;
  }
  ExtractArchive(archive, &plan);
  LogStage("restore-extracted");
  const bool cancelled = Canceled;
  // Also after a cancel: the files written up to it are what the copy undoes.
  std::string why;
  if (!undo.Commit(&why)) {
    undoWritten = false;  // the problem says where it lies instead
    report_.RunProblem("Die Rückgängig-Kopie konnte nicht als \"" + undo.Path() + "\" abgelegt werden (" + why +
                       "); sie liegt unter \"" + undo.WorkPath() + "\".");
  }
  const std::string undoNote =
      undoWritten ? "\n\nDer vorherige Stand liegt in der Rückgängig-Kopie \"" + undo.Path() + "\"." : "";
  ShowHook(2, true);
  ShowArrow(3, true);

  const std::string regFile = hostDir_ + "\\" + kRegFileName;
  // After a cancel the archive stays; what the user can still decide is whether the
  // registry data go back as well.
  bool importRegistry = selection_.registry && FileExists(regFile);
  if (cancelled) {
    const std::string kept = "Das Zurückschreiben wurde abgebrochen. Die Sicherung \"" + archive +
                             "\" bleibt erhalten; Sie können sie erneut zurückschreiben." + undoNote;
    if (importRegistry)
      importRegistry = win::Confirm(kept + "\n\nSollen die Registrierungsdaten aus \"" + regFile +
                                    "\" trotzdem importiert werden?");
    else
      win::ShowInformation(kept);
  }
  if (importRegistry && RegistryFileIsHosts(regFile)) {
    LogStage("restore-regedit");
    const int imported = ImportRegistry(regFile);
    LogStage("restore-regedit-end");
    if (imported == -1)
      report_.RunProblem("REGEDIT konnte nicht gestartet werden; die Registrierungsdaten wurden "
                         "nicht zurückgeschrieben.");
    ShowHook(3, true);
  } else {
    ShowArrow(3, false);
  }
  Pump();
  if (!report_.Empty())
    win::ShowError(report_.Text("Die Sicherung wurde nicht vollständig zurückgeschrieben.",
                                "zurückgeschrieben") + undoNote);
  else if (!cancelled)  // no problem reported: the engine wrote every file the plan found to write
    win::ShowInformation(RestoreSummary(plan.replaced.size() + plan.created.size(), plan.alreadyRight,
                                        undoWritten ? undo.Path() : ""));
  Hide();
  LogStage("restore-hidden");
}

bool TExtractForm::PrepareUndo(const std::string& archive, RestorePlan* plan, UndoCopy* undo, bool* written) {
  try {
    RestoreFilter chosen;
    if (!selection_.all)
      chosen = [this](const std::wstring& target) {
        return selection_.Chosen({reinterpret_cast<const char16_t*>(target.data()), target.size()});
      };
    // Reading the whole installation takes a while: the window answers meanwhile.
    WhileAnswering([&](const std::atomic<bool>& stop) { *plan = PlanRestore(archive, hostDir_, chosen, &stop); });
    LogStage("restore-compared");
  } catch (const EZipDirError&) {
    // An archive the component cannot read either is refused in its words.
    ZipArchiver1.SetZipFilename(archive);
    throw;
  }
  if (StoppedBeforeAnyChange()) return false;
  if (!plan->newer.empty() &&
      !win::Confirm(NewerFilesQuestion(ShownNames(plan->newer), GermanDateTime(plan->archiveTime))))
    return false;
  const bool registry = selection_.registry && (plan->holdsRegistry || FileExists(hostDir_ + "\\" + kRegFileName));
  // Nothing would be overwritten: the last restore's copy stays as it is.
  if (plan->replaced.empty() && !registry) return true;
  // The copy's packing would clear the archive component's cancel.
  if (StoppedBeforeAnyChange()) return false;
  std::string why;
  if (undo->Write(*plan, registry, &why)) {
    *written = true;
    return true;
  }
  while (!why.empty() && (why.back() == '.' || why.back() == ' ')) why.pop_back();
  if (!StoppedBeforeAnyChange())
    win::ShowError("Die Rückgängig-Kopie \"" + undo->Path() + "\" konnte nicht geschrieben werden: " + why +
                   ".\n\nDas Zurückschreiben wurde nicht begonnen; es wurde nichts verändert.");
  return false;
}

bool TExtractForm::StoppedBeforeAnyChange() {
  if (!Canceled) return false;
  win::ShowInformation("Das Zurückschreiben wurde abgebrochen, bevor eine Datei verändert wurde.");
  return true;
}

void TExtractForm::ExtractArchive(const std::string& archive, const RestorePlan* plan) {
  if (hostDir_.empty()) hostDir_ = tasks::GetHostDir();
  if (!SetCurrentDirectoryA(hostDir_.c_str())) win::RaiseLastOSError();
  ZipArchiver1.SetZipFilename(archive);
  Canceled = false;
  ZipArchiver1.FSpecArgs.clear();
  // Files already right are not touched: the engine is told only what to write,
  // unless that is everything, or the archive holds entries whose refusal only an
  // extraction of everything reports.
  if (plan && plan->alreadyRight > 0 && !plan->refusals) {
    ZipArchiver1.FSpecArgs = WriteSpecs(*plan);
    for (const RestoreFile& f : Retime(*plan, hostDir_)) ZipArchiver1.FSpecArgs.push_back(EngineSpec(f.target));
    if (ZipArchiver1.FSpecArgs.empty()) return;  // all is as the archive holds it
  } else if (!selection_.all) {
    ZipArchiver1.FSpecArgs = RestoreSpecArgs(archive, selection_);
    if (ZipArchiver1.FSpecArgs.empty()) return;  // no file chosen
  }
  ZipArchiver1.Extract();
  if (Canceled) return;
  if (ZipArchiver1.Aborted() || ZipArchiver1.DllResult() < 0)
    report_.RunProblem("Das ZIP-Archiv \"" + archive + "\" konnte nicht vollständig gelesen werden.");
}

int TExtractForm::ImportRegistry(const std::string& file) {
  return RunRegedit("\"" + file + "\"", "IMPORT \"" + file + "\"");
}

bool TExtractForm::RegistryFileIsHosts(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  std::string outside;
  if (in.bad() || !RegFileStaysUnder(bytes, kHostBranch, &outside)) {
    if (outside.empty())
      report_.RunProblem("Die Datei \"" + file +
                         "\" ist keine gültige Registrierungsdatei und wurde nicht importiert.");
    else
      report_.RunProblem("Die Datei \"" + file + "\" wurde nicht importiert: sie enthält den Schlüssel \"" +
                         outside + "\" außerhalb von \"" + kHostBranch + "\".");
    return false;
  }
  return true;
}

bool TExtractForm::AskArchive(const std::string& fileName, std::string* archive, bool* chooseFolders) {
  std::vector<char> file(32768, '\0');
  fileName.copy(file.data(), file.size() - 1);
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Handle();
  ofn.lpstrFilter = "ZIP-Archive (*.zip)\0*.zip\0Alle Dateien (*.*)\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = "Sicherung laden";
  ofn.lpstrDefExt = "zip";
  ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  ChoiceCheckBox choice(&ofn);
  if (!win::Late<decltype(GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA")(&ofn)) return false;
  *archive = file.data();
  *chooseFolders = choice.Checked();
  return true;
}

}  // namespace vk::backup
