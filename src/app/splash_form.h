#pragma once
// The splash window: a picture for two seconds while start-up creates the rest.
#include "win/form.h"

namespace vk::app {

class TSplashForm : public win::Form {
 public:
  TSplashForm();
  // Shows the splash, draws it at once and arms its timer (through Timer1Timer).
  void ShowSplash();
  // The timer's handler, also called once directly by ShowSplash.
  void Timer1Timer();
  bool TimerEnabled() const { return timerEnabled_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void SetTimerEnabled(bool enabled);
  void Paint(HDC dc);
  bool timerEnabled_ = false;
};

extern TSplashForm* SplashForm;

}  // namespace vk::app
