// The Windows tests' entry: the application object and the common controls are set
// up once, as the program's start-up does, before any test runs.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "win/application.h"

int main(int argc, char** argv) {
  vk::win::App().Initialize(GetModuleHandleA(nullptr));
  vk::win::App().SetTitle("Vaultkin");
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
