// Plugin_Vaultkin.exe: a plug-in of Kestrone 95 that backs up its installation.
#include <windows.h>

#include <stdlib.h>

#include "app/startup.h"
#include "core/stage_log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  vk::LogStage("main");
  const int code = vk::app::RunProgram(instance, __argc, __argv);
  vk::LogStage("main-end");
  return code;
}
