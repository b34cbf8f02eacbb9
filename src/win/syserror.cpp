#include "win/syserror.h"

#include "core/errors.h"

namespace vk::win {

std::string SysErrorMessage(DWORD code) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (n && buffer) {
    text.assign(buffer, n);
    LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "Systemfehler " + std::to_string(code);
  return text;
}

void RaiseLastOSError() {
  DWORD code = GetLastError();
  throw EInOutError("Systemfehler. Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code));
}

}  // namespace vk::win
