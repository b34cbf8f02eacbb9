#include "app/splash_form.h"

#include "res/version.h"

namespace vk::app {

TSplashForm* SplashForm = nullptr;

namespace {
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kIntervalMs = 2000;
}  // namespace

TSplashForm::TSplashForm() {
  CreateForm("", 176, 184, WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
}

void TSplashForm::ShowSplash() {
  ShowWindow(Handle(), SW_SHOWNOACTIVATE);
  Repaint();
  SetTimerEnabled(false);
  Timer1Timer();
}

void TSplashForm::Timer1Timer() {
  if (!Visible()) return;
  SetTimerEnabled(!timerEnabled_);
  if (!timerEnabled_) Hide();
}

void TSplashForm::SetTimerEnabled(bool enabled) {
  timerEnabled_ = enabled;
  if (enabled)
    SetTimer(Handle(), kTimerId, kIntervalMs, nullptr);
  else
    KillTimer(Handle(), kTimerId);
}

void TSplashForm::Paint(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  // The panel: a raised bevel two pixels wide around the picture.
  DrawEdge(dc, &client, EDGE_RAISED, BF_RECT);
  if (HBITMAP picture = win::LoadBitmapResource("SPLASH")) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(dc, 2, 2, 172, 180, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  RECT beta = {40, 8, 40 + 128, 8 + 25};
  HGDIOBJ old = SelectObject(dc, ArialFont(16, true));
  DrawTextA(dc, "Beta 4", -1, &beta, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, ArialFont(11, true));
  RECT copyright = {40, 28, 40 + 128, 28 + 25};
  DrawTextA(dc, VK_COPYRIGHT_SHORT, -1, &copyright, DT_RIGHT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
}

LRESULT TSplashForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam == kTimerId) Timer1Timer();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      Paint(dc);
      EndPaint(Handle(), &ps);
      return 0;
    }
    default:
      return Form::HandleMessage(msg, wParam, lParam);
  }
}

}  // namespace vk::app
