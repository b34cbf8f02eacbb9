#pragma once
// What the backup and the restore window share: the picture and the intro text, three
// step lines with their arrow (running) and hook (done) marks, the progress bar with
// the path label below it, the divider and the cancel button, the archive
// component's progress handling, and starting REGEDIT.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "backup/path_label.h"
#include "backup/run_report.h"
#include "backup/zip_archiver.h"
#include "core/run_progress.h"
#include "win/application.h"
#include "win/form.h"

namespace vk::backup {

// True when the path names an existing file (not a directory).
bool FileExists(const std::string& path);

// An ANSI text as UTF-16.
std::wstring Wide(const std::string& ansi);

// The registry branch of the host that a backup exports and a restore may import.
constexpr char kHostBranch[] = "HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone";
constexpr char kRegFileName[] = "kestrone.reg";

// Control identifiers of both run windows.
enum RunControl : int {
  idImage1 = 100,
  idLabelIntro = 101,
  idArrow1 = 110,  // idArrow1 + step, step 0..2
  idHook1 = 120,   // idHook1 + step
  idStepText1 = 130,
  idProgressBar1 = 140,
  idPathLabel1 = 141,
  idBevel1 = 142,
};

enum class RunPicture { kPack, kExtract };

class TRunForm : public win::Form {
 public:
  static constexpr int kSteps = 3;

  bool ArrowVisible(int step) const;  // step 1..3
  bool HookVisible(int step) const;

  // Replaces every "/" by "\".
  static std::string SlashToBackslash(std::string name);

  // The archive component's OnProgress handler. The window draws the file and the
  // bar at most every PaintPace::kIntervalMs and lets pending messages through at
  // most every PaintPace::kPumpIntervalMs, both always at a run's first and last
  // event; a cancel let through is answered to the engine in the same callback.
  void ZipArchiver1Progress(ProgressType type, const std::string& fileName, int fileSize);
  // Shows the progress events' latest state now and lets pending messages through.
  void DrawProgress();

  TZipArchiver ZipArchiver1;
  TPathLabel PathLabel1;
  // Set by the cancel button; cleared just before the archive engine starts.
  bool Canceled = false;

  // The cancel button's handler.
  void Button1Click();

  // Exports `branch` into `file` with REGEDIT; its exit code, or -1 when it did not start.
  int ExportRegistry(const std::string& file, const std::string& branch);

  // Runs `work` on a thread of its own while this one lets the window's messages
  // through, so that the window is drawn and "Abbrechen" answered meanwhile; the flag
  // handed to `work` turns true once it is pressed. An exception of `work` reaches
  // the caller.
  void WhileAnswering(const std::function<void(const std::atomic<bool>& stop)>& work);

  // True while a backup or restore run lasts: one run at a time, whatever starts it.
  static bool Running();

  // Where REGEDIT.EXE is looked for; empty means the Windows directory. Tests point
  // it at a folder without REGEDIT to see a run that cannot start it.
  static void SetRegeditDirForTesting(const std::string& dir);
  // Makes every start of REGEDIT fail as under User Account Control for an
  // administrator (ERROR_ELEVATION_REQUIRED), so that the REG.EXE way runs.
  static void SetRegeditNeedsElevationForTesting(bool needs);
  // The milliseconds the window paces its drawing by; nullptr restores the system's.
  static void SetClockForTesting(uint64_t (*clock)());

 protected:
  TRunForm(const std::string& caption, const std::string& intro, int pictureWidth,
           RunPicture picture, const char* const (&steps)[kSteps], int pathLabelWidth);

  // Held for a whole run: marks it running and the application busy, and leaves
  // only this window taking input.
  class RunScope {
   public:
    explicit RunScope(TRunForm& form);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    win::BusyScope busy_;
  };

  void ShowArrow(int step, bool visible);
  void ShowHook(int step, bool visible);
  // Hides every mark and empties the path label.
  void ResetMarks();
  void Pump();  // lets pending window messages be handled, so the window repaints

  // Runs REGEDIT.EXE with `arguments` after it: a new process with a new console,
  // its window shown normally; waits for its end. When REGEDIT needs elevation,
  // runs REG.EXE of the system directory with `regArguments` instead. The exit
  // code, or -1 when neither could be started.
  int RunRegedit(const std::string& arguments, const std::string& regArguments);

  void OnCommand(int id, int notifyCode, HWND control) override;
  // A problem the archive engine reported (its code and text): by default one file
  // that could not be packed or extracted.
  virtual void EngineProblem(int code, const std::string& message) { report_.FileProblem(message); }

  RunReport report_;

 private:
  HWND ProgressBar() const { return Item(idProgressBar1); }

  RunProgress progress_;
  PaintPace pace_;  // drawing
  PaintPace pump_{PaintPace::kPumpIntervalMs};  // letting messages through
};

}  // namespace vk::backup
