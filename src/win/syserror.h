#pragma once
// Turns Win32 error codes into the system's own message text.
#include <windows.h>

#include <string>

namespace vk::win {

// The system's text for an error code, without the trailing line break.
std::string SysErrorMessage(DWORD code);

// Raises EInOutError with the system's text for GetLastError().
[[noreturn]] void RaiseLastOSError();

}  // namespace vk::win
