#include "host/sync_window.h"

#include "win/application.h"

namespace vk::host {

namespace {

constexpr UINT kRunStep = WM_APP + 0x153;  // sent by TSyncWindow::Run: lParam = the step
constexpr char kClassName[] = "VaultkinSyncWindow";

}  // namespace

void TSyncWindow::RegisterClassOnce() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &TSyncWindow::WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);  // fails harmlessly when it exists already
}

TSyncWindow::TSyncWindow() {
  RegisterClassOnce();
  hwnd_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, /*hMenu=*/nullptr,
                          GetModuleHandleA(nullptr), this);
}

TSyncWindow::~TSyncWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void TSyncWindow::Run(const std::function<void()>& step) {
  if (hwnd_) SendMessageA(hwnd_, kRunStep, 0, reinterpret_cast<LPARAM>(&step));
}

LRESULT CALLBACK TSyncWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (msg == kRunStep) {
    auto* self = reinterpret_cast<TSyncWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    const auto& step = *reinterpret_cast<const std::function<void()>*>(lParam);
    if (self && !self->closed_) vk::win::App().Guard([&] { step(); });
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void WaitServingSentMessages(HANDLE handle) {
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &handle, /*fWaitAll=*/FALSE, INFINITE,
                                              QS_SENDMESSAGE);
    if (r != WAIT_OBJECT_0 + 1) return;  // signalled, or the wait itself failed
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace vk::host
