#include "widgets/browse_dialog.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "core/errors.h"
#include "win/application.h"
#include "win/late_library.h"

namespace vk::widgets {
namespace {

// The dialogs whose Execute is running on this thread: the shell's callback data is
// acted on only when it is one of them.
thread_local std::vector<TBrowseDialog*> g_running;

// Disables every enabled, visible window of this thread for one scope, remembering
// the active one, and gives both back in reverse order.
class TaskWindowsDisabled {
 public:
  TaskWindowsDisabled() : active_(GetActiveWindow()) {
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&windows_));
    for (HWND w : windows_) EnableWindow(w, FALSE);
  }
  ~TaskWindowsDisabled() {
    for (HWND w : windows_)
      if (IsWindow(w)) EnableWindow(w, TRUE);
    if (active_ && IsWindow(active_)) SetActiveWindow(active_);
  }
  TaskWindowsDisabled(const TaskWindowsDisabled&) = delete;
  TaskWindowsDisabled& operator=(const TaskWindowsDisabled&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND w, LPARAM list) {
    if (IsWindowVisible(w) && IsWindowEnabled(w))
      reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
    return TRUE;
  }
  HWND active_;
  std::vector<HWND> windows_;
};

// What one Execute holds from the shell; given back on every way out.
struct ShellResources {
  IMalloc* malloc = nullptr;
  LPITEMIDLIST root = nullptr;
  char* displayName = nullptr;
  ~ShellResources() {
    if (!malloc) return;
    if (root) malloc->Free(root);
    if (displayName) malloc->Free(displayName);
    malloc->Release();
  }
};

// COM for the shell's dialog, apartment-threaded as it asks; undone only when this
// call was the one that set it up.
class ComApartment {
 public:
  ComApartment()
      : hr_(win::Late<decltype(CoInitializeEx)>("ole32.dll", "CoInitializeEx")(nullptr, COINIT_APARTMENTTHREADED)),
        uninitialize_(win::Late<decltype(CoUninitialize)>("ole32.dll", "CoUninitialize")) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) uninitialize_();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT hr_;
  decltype(CoUninitialize)* uninitialize_;
};

std::wstring Widen(const std::string& s) {
  const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(std::max(n, 1)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
  w.resize(w.size() - 1);
  return w;
}

std::string PathOf(LPCITEMIDLIST item) {
  char path[MAX_PATH] = {};
  if (item && win::Late<decltype(SHGetPathFromIDListA)>("shell32.dll", "SHGetPathFromIDListA")(item, path)) return path;
  return std::string();
}

}  // namespace

UINT TBrowseOptions::ShellFlags() const {
  static const UINT kFlags[] = {BIF_BROWSEFORCOMPUTER, BIF_BROWSEFORPRINTER,
                                BIF_DONTGOBELOWDOMAIN, BIF_RETURNFSANCESTORS,
                                BIF_RETURNONLYFSDIRS,  BIF_STATUSTEXT};
  UINT flags = 0;
  for (unsigned i = 0; i < sizeof kFlags / sizeof kFlags[0]; ++i)
    if (bits_ & (1u << i)) flags |= kFlags[i];
  return flags;
}

bool TBrowseDialog::Execute() {
  ComApartment com;
  ShellResources shell;
  if (FAILED(win::Late<decltype(SHGetMalloc)>("shell32.dll", "SHGetMalloc")(&shell.malloc)) || !shell.malloc) {
    shell.malloc = nullptr;
    return false;
  }
  const HWND owner = win::App().OwnerWindow();

  if (!Root.empty()) {
    IShellFolder* desktop = nullptr;
    if (FAILED(win::Late<decltype(SHGetDesktopFolder)>("shell32.dll", "SHGetDesktopFolder")(&desktop)) || !desktop)
      throw Exception("TBrowseDialog: SHGetDesktopFolder Failed.");
    std::wstring root = Widen(Root);
    ULONG eaten = 0;
    if (FAILED(desktop->ParseDisplayName(owner, nullptr, root.data(), &eaten, &shell.root,
                                         nullptr)))
      shell.root = nullptr;  // an unknown root: the tree starts at the desktop
    desktop->Release();
  }

  shell.displayName = static_cast<char*>(shell.malloc->Alloc(MAX_PATH));
  if (!shell.displayName) throw Exception("TBrowseDialog: ppmem.Alloc Failed.");
  shell.displayName[0] = '\0';

  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.pidlRoot = shell.root;
  info.pszDisplayName = shell.displayName;
  info.lpszTitle = Caption.c_str();
  info.ulFlags = Options.ShellFlags();
  info.lpfn = &TBrowseDialog::Notify;
  info.lParam = reinterpret_cast<LPARAM>(this);

  LPITEMIDLIST chosen;
  {
    TaskWindowsDisabled disabled;
    g_running.push_back(this);
    chosen = win::Late<decltype(SHBrowseForFolderA)>("shell32.dll", "SHBrowseForFolderA")(&info);
    g_running.erase(std::find(g_running.begin(), g_running.end(), this));
  }
  if (!chosen) return false;
  displayName_ = shell.displayName;
  Directory = PathOf(chosen);
  shell.malloc->Free(chosen);
  return true;
}

int CALLBACK TBrowseDialog::Notify(HWND wnd, UINT msg, LPARAM param, LPARAM data) {
  auto* dialog = reinterpret_cast<TBrowseDialog*>(data);
  if (std::find(g_running.begin(), g_running.end(), dialog) != g_running.end())
    win::App().Guard([&] { dialog->HandleNotification(wnd, msg, param); });
  return 0;
}

void TBrowseDialog::HandleNotification(HWND wnd, UINT msg, LPARAM param) {
  std::string status;
  TOKButtonState ok = TOKButtonState::Unchanged;
  if (msg == BFFM_SELCHANGED) {
    const std::string path = PathOf(reinterpret_cast<LPCITEMIDLIST>(param));
    if (OnSelectionChanged) OnSelectionChanged(*this, wnd, path, status, ok);
  } else if (msg == BFFM_INITIALIZED) {
    std::string path = Directory;
    // "C:\Programme\" is preselected as "C:\Programme", a drive root stays "C:\".
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    if (!path.empty())
      SendMessageA(wnd, BFFM_SETSELECTIONA, /*isPath=*/TRUE, reinterpret_cast<LPARAM>(path.c_str()));
    if (OnInitialized) OnInitialized(*this, wnd, path, status, ok);
  }
  SendMessageA(wnd, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status.c_str()));
  if (ok != TOKButtonState::Unchanged)
    SendMessageA(wnd, BFFM_ENABLEOK, 0, ok == TOKButtonState::Enable ? 1 : 0);
}

}  // namespace vk::widgets
