#pragma once
// Gives a form's focused control back when the form is activated again (after a
// message box, or when the form is shown), as the dialog manager does for dialogs.
#include <windows.h>

namespace vk::tasks {

class FocusMemory {
 public:
  // The control that gets the focus on the next activation.
  void Set(HWND control) { control_ = control; }

  // For WM_ACTIVATE; true when the message was handled.
  bool OnActivate(HWND form, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(form, focus)) control_ = focus;
      return false;
    }
    if (control_ && IsWindow(control_) && IsChild(form, control_) && IsWindowEnabled(control_) &&
        IsWindowVisible(control_)) {
      SetFocus(control_);
      return true;
    }
    return false;
  }

 private:
  HWND control_ = nullptr;
};

}  // namespace vk::tasks
