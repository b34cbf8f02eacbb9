#include "app/startup.h"

#include <commctrl.h>

#include <memory>
#include <string>

#include "app/data_module.h"
#include "app/info_form.h"
#include "app/main_form.h"
#include "app/splash_form.h"
#include "backup/extract_form.h"
#include "backup/pack_form.h"
#include "core/stage_log.h"
#include "tasks/config_form.h"
#include "tasks/getfname_form.h"
#include "tasks/sets.h"
#include "tasks/sets_form.h"
#include "win/application.h"
#include "win/msgbox.h"

namespace vk::app {
namespace {

// The backup button: backs up every active task now, whatever its automatic mode.
void BackupActiveTasks() {
  // Busy between the runs too, so that the list cannot change under this loop.
  win::BusyScope busy;
  tasks::TSets& sets = tasks::SetsForm->Sets();
  bool any = false;
  for (const auto& set : sets) {
    if (!set->Active || set->LoadFailed()) continue;
    any = true;
    backup::PackForm->RunTask(*set);
    set->Save();
  }
  if (!any)
    win::ShowInformation(
        "Es gibt keine aktive Sicherungsaufgabe. Legen Sie unter \"Einstellungen ändern\" eine "
        "Aufgabe an.");
}

// All windows and the data module, created in their fixed order (those a background
// backup never shows when first needed) and destroyed in the reverse one.
struct Program {
  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TSplashForm> splashForm;
  std::unique_ptr<tasks::TSetsForm> setsForm;
  std::unique_ptr<tasks::TGetFileNameForm> getFileNameForm;
  std::unique_ptr<TInfoForm> infoForm;
  std::unique_ptr<backup::TExtractForm> extractForm;
  std::unique_ptr<tasks::TConfigForm> configForm;
  std::unique_ptr<backup::TPackForm> packForm;
  std::unique_ptr<TDataModule1> dataModule;

  ~Program() {
    tasks::SetTaskRunner(nullptr);
    DataModule1 = nullptr;
    dataModule.reset();
    backup::PackForm = nullptr;
    packForm.reset();
    Forget(tasks::ConfigForm, configForm);
    Forget(backup::ExtractForm, extractForm);
    Forget(InfoForm, infoForm);
    Forget(tasks::GetFileNameForm, getFileNameForm);
    // The task list goes with its dialog and writes every task file.
    setsForm.reset();
    tasks::SetsForm = nullptr;
    SplashForm = nullptr;
    splashForm.reset();
    MainForm = nullptr;
    mainForm.reset();
  }

  template <class F>
  static void MakeWhenNeeded(win::FormWhenNeeded<F>& global, std::unique_ptr<F>& owned) {
    global.make = [&owned] {
      owned = std::make_unique<F>();
      return owned.get();
    };
  }
  template <class F>
  static void Forget(win::FormWhenNeeded<F>& global, std::unique_ptr<F>& owned) {
    global = {};
    owned.reset();
  }
};

void CreateWindows(Program& p, const std::string& firstArgument) {
  p.mainForm = std::make_unique<TMainForm>();  // the first form is the main form
  MainForm = p.mainForm.get();
  p.splashForm = std::make_unique<TSplashForm>();
  SplashForm = p.splashForm.get();
  p.setsForm = std::make_unique<tasks::TSetsForm>();  // loads the task store
  tasks::SetsForm = p.setsForm.get();
  Program::MakeWhenNeeded(tasks::GetFileNameForm, p.getFileNameForm);
  Program::MakeWhenNeeded(InfoForm, p.infoForm);

  SplashForm->ShowSplash();

  Program::MakeWhenNeeded(backup::ExtractForm, p.extractForm);
  Program::MakeWhenNeeded(tasks::ConfigForm, p.configForm);
  p.packForm = std::make_unique<backup::TPackForm>();
  backup::PackForm = p.packForm.get();
  tasks::SetTaskRunner([](tasks::TSet& set) { return backup::PackForm->RunTask(set); });
  p.dataModule = std::make_unique<TDataModule1>(firstArgument);
  DataModule1 = p.dataModule.get();

  MainForm->onBackup = BackupActiveTasks;
  MainForm->onRestore = [] { backup::ExtractForm.Now()->RunRestore(); };
  MainForm->onSettings = [] { tasks::SetsForm->Execute(); };
  MainForm->onInfo = [] { InfoForm.Now()->Execute(); };
}

}  // namespace

int RunProgram(HINSTANCE instance, int argc, char** argv) {
  win::Application& app = win::App();
  app.Initialize(instance);
  app.SetTitle("Vaultkin");
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  std::string firstArgument = argc > 1 ? argv[1] : "";

  Program program;
  app.Guard([&] {
    CreateWindows(program, firstArgument);
    LogStage("windows");
    // Host commands that come during the connection or its due tasks wait for them.
    win::BusyScope connecting;
    try {
      DataModule1->KestroneAPI1->Connect();
    } catch (const std::exception& error) {
      // A registration the host did not acknowledge: no mode was decided, so say
      // what went wrong and end.
      app.showMainForm = false;
      app.HandleException(error);
      app.Terminate();
    }
  });
  if (!DataModule1) {
    // Start-up itself failed (its error has been shown): nothing to run.
    return 1;
  }
  app.Run();
  return 0;
}

}  // namespace vk::app
