#include "win/application.h"

#include <algorithm>

#include "core/errors.h"
#include "win/form.h"
#include "win/msgbox.h"

namespace vk::win {

Application& Application::Instance() {
  static Application app;
  return app;
}

void Application::Initialize(HINSTANCE module) {
  module_ = module;
  terminated_ = false;
}

void Application::SetTitle(const std::string& title) { title_ = title; }

void Application::RegisterForm(Form* form) {
  if (!main_) main_ = form;
  forms_.push_back(form);
}

void Application::UnregisterForm(Form* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  if (main_ == form) main_ = nullptr;
}

bool Application::IsForm(HWND window) const {
  return std::any_of(forms_.begin(), forms_.end(),
                     [window](Form* f) { return f->Handle() == window; });
}

HWND Application::OwnerWindow() const {
  HWND active = GetActiveWindow();
  if (active && IsForm(active) && IsWindowVisible(active)) return active;
  for (Form* f : forms_)
    if (f->InModal() && f->Visible()) return f->Handle();
  if (main_ && main_->Visible()) return main_->Handle();
  return nullptr;
}

void Application::Dispatch(MSG& msg) {
  if (msg.hwnd) {
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (root && IsForm(root) && IsDialogMessageA(root, &msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

bool Application::HandleOneMessage() {
  MSG msg;
  BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    terminated_ = true;
    return false;
  }
  Dispatch(msg);
  return true;
}

void Application::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      return;
    }
    Dispatch(msg);
  }
}

void Application::Run() {
  // Asked to end before the loop starts (the host left during start-up): the
  // request is taken here, and no window comes up just to go again.
  MSG pending;
  if (!terminated_ && PeekMessageA(&pending, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) &&
      pending.message == WM_QUIT)
    terminated_ = true;
  if (showMainForm && main_ && !terminated_) main_->Show();
  while (!terminated_) HandleOneMessage();
}

void Application::WhenIdle(std::function<void()> work) {
  if (!Busy()) {
    work();
    return;
  }
  whenIdle_.push_back(std::move(work));
}

void Application::LeaveBusy() {
  if (--busyDepth_ > 0) return;
  std::vector<std::function<void()>> work;
  work.swap(whenIdle_);
  if (terminated_) return;
  for (auto& w : work) Guard(w);
}

namespace {
struct Collect {
  HWND except;
  std::vector<HWND>* windows;
};

BOOL CALLBACK CollectEnabledWindow(HWND hwnd, LPARAM lParam) {
  auto* c = reinterpret_cast<Collect*>(lParam);
  if (hwnd != c->except && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) c->windows->push_back(hwnd);
  return TRUE;
}
}  // namespace

std::vector<HWND> DisableOtherWindows(HWND except) {
  std::vector<HWND> disabled;
  Collect c{except, &disabled};
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&c));
  for (HWND w : disabled) EnableWindow(w, FALSE);
  return disabled;
}

void EnableWindows(const std::vector<HWND>& windows) {
  for (HWND w : windows)
    if (IsWindow(w)) EnableWindow(w, TRUE);
}

BusyScope::BusyScope(HWND liveWindow) {
  ++App().busyDepth_;
  active_ = GetActiveWindow();
  disabled_ = DisableOtherWindows(liveWindow);
}

BusyScope::~BusyScope() {
  EnableWindows(disabled_);
  if (active_ && IsWindow(active_) && IsWindowVisible(active_)) SetActiveWindow(active_);
  App().LeaveBusy();
}

void Application::Terminate() { PostQuitMessage(0); }

void Application::HandleException(const std::exception& error) { ShowError(error.what()); }

void Application::HandleUnknownException() { ShowError("Unbekannter Fehler"); }

}  // namespace vk::win
