#pragma once
// The application object: title, main form, the message loop and the top-level
// error handler. Everything here runs on the main thread.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vk::win {

class Form;

class Application {
 public:
  static Application& Instance();

  void Initialize(HINSTANCE module);
  HINSTANCE Module() const { return module_; }

  void SetTitle(const std::string& title);
  const std::string& Title() const { return title_; }

  // Forms register themselves when their window is created; the first one is the
  // main form (it is not shown until the message loop starts).
  void RegisterForm(Form* form);
  void UnregisterForm(Form* form);
  Form* MainForm() const { return main_; }
  bool IsForm(HWND window) const;

  // Owner for message boxes and common dialogs: the active window of this thread
  // if it is one of ours, else the main form's window (which may be hidden), else none.
  HWND OwnerWindow() const;

  // Read once when the message loop starts: on, the main form is shown then.
  bool showMainForm = true;

  // Runs the message loop until the application is asked to end.
  void Run();
  // Asks the application to end: posts the quit request to this thread's queue.
  void Terminate();
  // True once a loop has taken the quit request.
  bool Terminated() const { return terminated_; }
  // Handles every pending message and returns; a quit request taken here ends
  // the message loop (and any modal form) as soon as control gets back there.
  void ProcessMessages();
  // Waits for and handles one message; false when it was the quit request.
  bool HandleOneMessage();
  // Dispatches one message, giving our forms their keyboard handling (Tab, Enter, Esc).
  void Dispatch(MSG& msg);

  // A backup or restore run, or the start-up's connection with its due tasks, is
  // under way. Nothing else may start meanwhile: no second run, no dialog that could
  // change or delete the task being run. Scopes nest.
  bool Busy() const { return busyDepth_ > 0; }
  // Work asked for while busy (a host command), done once the outermost scope has
  // ended, unless the program is ending by then.
  void WhenIdle(std::function<void()> work);

  // The top-level error handler: shows the message in a "Fehler" box; the program goes on.
  void HandleException(const std::exception& error);
  void HandleUnknownException();

  // Runs f and hands any exception to the top-level handler. Window procedures and
  // timer and thread callbacks use it, so no exception crosses a system frame.
  template <class F>
  void Guard(F&& f) noexcept {
    try {
      f();
    } catch (const std::exception& e) {
      HandleException(e);
    } catch (...) {
      HandleUnknownException();
    }
  }

 private:
  friend class BusyScope;
  Application() = default;
  void LeaveBusy();
  HINSTANCE module_ = nullptr;
  std::string title_;
  Form* main_ = nullptr;
  std::vector<Form*> forms_;
  bool terminated_ = false;
  int busyDepth_ = 0;
  std::vector<std::function<void()>> whenIdle_;
};

// Disables every visible, enabled window of this thread but one; gives back the
// windows it disabled, for EnableWindows.
std::vector<HWND> DisableOtherWindows(HWND except);
void EnableWindows(const std::vector<HWND>& windows);

// Marks the application busy for its lifetime. Every visible window of the program
// but the live one (a run's window, with its progress and cancel button) is
// disabled meanwhile, as under a modal dialog.
class BusyScope {
 public:
  explicit BusyScope(HWND liveWindow = nullptr);
  ~BusyScope();
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  std::vector<HWND> disabled_;
  HWND active_ = nullptr;
};

inline Application& App() { return Application::Instance(); }

}  // namespace vk::win
