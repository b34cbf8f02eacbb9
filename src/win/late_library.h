#pragma once
// Functions of the system libraries that only dialogs need (the file dialogs, the
// folder browser, dropped files, the web link), loaded at their first use: under Wine
// comdlg32, shell32 and ole32 bring nine libraries with them, and loading them at
// the start delayed the background backup that the host's start begins.
#include <windows.h>

namespace vk::win {

// `name` of the system library `library`, loaded on first use and kept; throws
// std::runtime_error when either cannot be found.
FARPROC LateFunction(const char* library, const char* name);

// The same, typed: Late<decltype(GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA").
template <class F>
F* Late(const char* library, const char* name) {
  return reinterpret_cast<F*>(reinterpret_cast<void*>(LateFunction(library, name)));
}

}  // namespace vk::win
