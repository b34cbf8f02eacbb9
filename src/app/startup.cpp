#include "app/startup.h"

#include <commctrl.h>

#include <memory>

#include "app/info_form.h"
#include "app/main_form.h"
#include "app/splash_form.h"
#include "win/application.h"

namespace vk::app {

int RunProgram(HINSTANCE instance, int argc, char** argv) {
  win::Application& app = win::App();
  app.Initialize(instance);
  app.SetTitle("Vaultkin");
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  auto mainForm = std::make_unique<TMainForm>();
  MainForm = mainForm.get();
  auto splashForm = std::make_unique<TSplashForm>();
  SplashForm = splashForm.get();
  auto infoForm = std::make_unique<TInfoForm>();
  InfoForm = infoForm.get();
  SplashForm->ShowSplash();
  MainForm->onInfo = [] { InfoForm->Execute(); };
  app.Run();
  return 0;
}

}  // namespace vk::app
