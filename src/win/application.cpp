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
  if (showMainForm && main_) main_->Show();
  while (!terminated_) HandleOneMessage();
}

void Application::Terminate() { PostQuitMessage(0); }

void Application::HandleException(const std::exception& error) { ShowError(error.what()); }

void Application::HandleUnknownException() { ShowError("Unbekannter Fehler"); }

}  // namespace vk::win
