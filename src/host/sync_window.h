#pragma once
// Synchronised steps: another thread hands a step to the thread that created the
// window and blocks until that thread has run it. The owning thread runs steps
// whenever it takes or waits for messages (its loop, a modal loop, a message box,
// a reply wait), because the system delivers sent messages there.
#include <windows.h>

#include <functional>

namespace vk::host {

class TSyncWindow {
 public:
  TSyncWindow();  // on the thread that will run the steps
  ~TSyncWindow();
  TSyncWindow(const TSyncWindow&) = delete;
  TSyncWindow& operator=(const TSyncWindow&) = delete;

  // Runs step on the owning thread and returns when it has run (or was dropped).
  // An exception of the step goes to the application's error handler there.
  void Run(const std::function<void()>& step);

  // Steps that arrive from now on are dropped unrun.
  void Close() { closed_ = true; }

  HWND Handle() const { return hwnd_; }

 private:
  static void RegisterClassOnce();
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
  bool closed_ = false;  // touched on the owning thread only
};

// Waits for a handle to be signalled while still serving the messages sent to this
// thread's windows (so a thread that waits on one of our windows can finish).
void WaitServingSentMessages(HANDLE handle);

}  // namespace vk::host
