#pragma once
// What the program's start-up does before any window is made, for the test programs:
// the application object and the common controls.
#include <windows.h>
#include <commctrl.h>

#include "win/application.h"

namespace vk::testsetup {

inline void StartLikeTheProgram() {
  vk::win::App().Initialize(GetModuleHandleA(nullptr));
  vk::win::App().SetTitle("Vaultkin");
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
}

}  // namespace vk::testsetup
