#pragma once
// The info window: a modal about box with a clickable web address.
#include "widgets/web_link.h"
#include "win/form.h"

namespace vk::app {

class TInfoForm : public win::Form {
 public:
  TInfoForm();
  int Execute();
  // A click on the link label opens the web address in the default browser.
  void Label6Click();

  widgets::TWebLink WebLink1;

  enum { kOk = IDOK, kLink = 106, kPicture = 107, kIcon = 108 };

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(int id, int notifyCode, HWND control) override;
};

extern win::FormWhenNeeded<TInfoForm> InfoForm;

}  // namespace vk::app
