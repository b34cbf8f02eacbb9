#include "win/msgbox.h"

#include <windows.h>

#include <utility>

#include "win/application.h"

namespace vk::win {
namespace {

// Renames the Yes and No buttons of the next message box on this thread: Windows
// words them in its own language, the program's boxes are German.
thread_local HHOOK g_hook = nullptr;
// Set when the box of the current Box call is answered by one of its buttons; null
// once that box is watched (later activations are of other windows: its owner's).
thread_local bool* g_answered = nullptr;

constexpr char kBoxProc[] = "VaultkinBoxProc";
constexpr char kAnswered[] = "VaultkinBoxAnswered";

// Notes that the box was answered: a request to end that comes after the answer, before the
// box has gone, must not be taken for one that closed it.
LRESULT CALLBACK WatchAnswer(HWND box, UINT msg, WPARAM wParam, LPARAM lParam) {
  const auto proc = reinterpret_cast<WNDPROC>(GetPropA(box, kBoxProc));
  if (msg == WM_COMMAND && LOWORD(wParam) >= IDOK && LOWORD(wParam) <= IDNO) {
    if (auto* answered = static_cast<bool*>(GetPropA(box, kAnswered))) *answered = true;
  } else if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    RemovePropA(box, kBoxProc);
    RemovePropA(box, kAnswered);
  }
  return CallWindowProcA(proc, box, msg, wParam, lParam);
}

LRESULT CALLBACK RenameButtons(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    if (GetDlgItem(box, IDYES)) SetDlgItemTextA(box, IDYES, "&Ja");
    if (GetDlgItem(box, IDNO)) SetDlgItemTextA(box, IDNO, "&Nein");
    char type[8] = {};
    if (g_answered && GetClassNameA(box, type, sizeof type) && lstrcmpA(type, "#32770") == 0 &&
        !GetPropA(box, kBoxProc)) {
      SetPropA(box, kAnswered, std::exchange(g_answered, nullptr));
      SetPropA(box, kBoxProc,
               reinterpret_cast<HANDLE>(SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchAnswer))));
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

int Box(const std::string& text, const std::string& caption, UINT type) {
  HWND owner = App().OwnerWindow();
  if (!owner) type |= MB_TASKMODAL;
  // A request to end that comes while the box is up (the host leaving: its step
  // runs in the box's own message loop) closes the box unanswered. The box comes
  // again, and the program ends once the user has seen it. A request that comes
  // after the answer, before the box has gone, only ends the program.
  bool quit = false;
  WPARAM quitCode = 0;
  int result;
  while (true) {
    bool answered = false;
    bool* const outer = g_answered;
    g_answered = &answered;
    g_hook = SetWindowsHookExA(WH_CBT, RenameButtons, nullptr, GetCurrentThreadId());
    result = MessageBoxA(owner, text.c_str(), caption.c_str(), type);
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    g_answered = outer;
    MSG pending;
    if (!PeekMessageA(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) break;
    quit = true;
    quitCode = pending.wParam;
    if (answered) break;
    if (owner && !IsWindow(owner)) {
      owner = nullptr;
      type |= MB_TASKMODAL;
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return result;
}

}  // namespace

void ShowError(const std::string& text) { Box(text, "Fehler", MB_OK | MB_ICONERROR); }

void ShowInformation(const std::string& text) {
  Box(text, "Information", MB_OK | MB_ICONINFORMATION);
}

bool Confirm(const std::string& text) {
  return Box(text, "Bestätigen", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void ShowPlain(const std::string& text) { Box(text, App().Title(), MB_OK); }

}  // namespace vk::win
