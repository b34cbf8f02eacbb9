#pragma once
// The main window of the interactive mode: three large picture buttons, Info and Close.
#include <functional>
#include <memory>

#include "widgets/placement_keeper.h"
#include "win/form.h"

namespace vk::app {

class TMainForm : public win::Form {
 public:
  TMainForm();

  enum {
    kDescription = 101, kBackup = 102, kRestore = 103, kSettings = 104, kCopyright = 105,
    kInfo = 106, kPictureFrame = 107, kPicture = 108, kClose = IDCANCEL
  };

  // What the buttons do; the start-up connects them to the other windows.
  std::function<void()> onBackup, onRestore, onSettings, onInfo;

  // Brings the window back where it was closed; it can be moved, never resized.
  std::unique_ptr<widgets::TPlacementKeeper> Placement1;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void FormCreate();
  void DrawPictureButton(const DRAWITEMSTRUCT& item);
};

extern TMainForm* MainForm;

}  // namespace vk::app
