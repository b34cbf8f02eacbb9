#include "app/data_module.h"

#include "app/info_form.h"
#include "backup/extract_form.h"
#include "core/stage_log.h"
#include "res/version.h"
#include "tasks/sets_form.h"
#include "win/application.h"
#include "win/msgbox.h"

namespace vk::app {

TDataModule1* DataModule1 = nullptr;

namespace {

std::unique_ptr<host::TKestroneService> MakeService(host::TKestroneAPI* api, int32_t command,
                                                    bool active, const std::string& title,
                                                    const std::string& description,
                                                    host::TPluginCmdEvent onCommand) {
  auto service = std::make_unique<host::TKestroneService>();
  service->SetActive(active);
  service->SetCommand(command);
  service->SetDescription(description);
  service->SetKestroneAPI(api);
  service->SetTitle(title);
  service->OnCommand = std::move(onCommand);
  return service;
}

}  // namespace

TDataModule1::TDataModule1(std::string firstArgument) : firstArgument_(std::move(firstArgument)) {
  using namespace std::placeholders;
  KestroneAPI1 = std::make_unique<host::TKestroneAPI>();
  host::TKestroneAPI& api = *KestroneAPI1;
  // Start-up connects itself once every window exists.
  api.SetAutoConnect(false);
  api.SetPIName("Vaultkin");
  api.SetPIDescription("Vaultkin Sicherungs-Plugin");
  api.SetPICopyright(VK_COPYRIGHT);
  api.SetPIVersion(0);
  api.SetPIRevision(2);
  api.SetPIAPIRequiered(7);
  api.SetPIAPISupported(8);
  api.OnConnected = std::bind(&TDataModule1::KestroneAPI1Connected, this, _1);
  api.OnConnectFailed = std::bind(&TDataModule1::KestroneAPI1ConnectFailed, this, _1);
  api.OnServerDisconnected = std::bind(&TDataModule1::KestroneAPI1ServerDisconnected, this, _1);
  api.OnWrongVersion = std::bind(&TDataModule1::KestroneAPI1WrongVersion, this, _1);

  SichernService = MakeService(&api, 2048, true, "Vaultkin: Aufgaben", "Öffnet den Aufgaben-Dialog",
                               std::bind(&TDataModule1::SichernServiceCommand, this, _1));
  KonfigService = MakeService(&api, 2049, false, "Vaultkin: Einstellungen", "Vaultkin kofigurieren",
                              std::bind(&TDataModule1::KonfigServiceCommand, this, _1));
  InfoService = MakeService(&api, 2050, true, "Vaultkin: Info", "Vaultkin Informationen",
                            std::bind(&TDataModule1::InfoServiceCommand, this, _1));
  // End of loading, in creation order: the services join the connection's list.
  api.Loaded();
  SichernService->Loaded();
  KonfigService->Loaded();
  InfoService->Loaded();
}

TDataModule1::~TDataModule1() {
  KestroneAPI1->Destroying();
  InfoService.reset();
  KonfigService.reset();
  SichernService.reset();
  KestroneAPI1.reset();
}

void TDataModule1::KestroneAPI1Connected(host::TKestroneAPI*) {
  LogStage("connected");
  if (firstArgument_ == "/normal") return;
  win::App().showMainForm = false;
  if (tasks::SetsForm) tasks::SetsForm->Sets().RunDueTasks();
}

void TDataModule1::KestroneAPI1ConnectFailed(host::TKestroneAPI*) {
  win::App().showMainForm = false;
  if (win::Confirm("Vaultkin wurde manuell gestartet. In diesem Modus können Sie nur eine "
                   "vorhandene Sicherung zurückschreiben. Wollen Sie das?"))
    backup::ExtractForm.Now()->RunRestore();
  win::App().Terminate();
}

void TDataModule1::KestroneAPI1WrongVersion(host::TKestroneAPI*) {
  win::ShowInformation(
      "Das Plugin-API Ihrer Kestrone95-Installation hat die falsche Version. Vaultkin wird im "
      "Stanard-Modus ausgeführt!");
}

void TDataModule1::KestroneAPI1ServerDisconnected(host::TKestroneAPI*) {
  win::App().showMainForm = true;
  win::App().Terminate();
}

bool TDataModule1::WaitWhileBusy(const host::TMsg& msg) {
  if (!win::App().Busy()) return false;
  // A run or the start-up is under way: the command comes again once it is over,
  // through the listener, so the host's later messages keep their order behind it.
  win::App().WhenIdle([this, msg] { KestroneAPI1->RequeueCommand(msg); });
  return true;
}

void TDataModule1::SichernServiceCommand(const host::TMsg& msg) {
  if (!WaitWhileBusy(msg)) tasks::SetsForm->Execute();
}

void TDataModule1::KonfigServiceCommand(const host::TMsg& msg) {
  if (!WaitWhileBusy(msg)) tasks::SetsForm->Execute();
}

void TDataModule1::InfoServiceCommand(const host::TMsg& msg) {
  if (!WaitWhileBusy(msg)) InfoForm.Now()->Execute();
}

}  // namespace vk::app
