#include "widgets/web_link.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <optional>
#include <string>

#include "core/browser_command.h"
#include "win/application.h"
#include "win/form.h"
#include "win/handles.h"
#include "win/late_library.h"

namespace vk::widgets {
namespace {

constexpr const char* kHtmlExtensions[] = {".HTM", ".HTML", ".SHTML", ".SHTM"};
// 1024 characters and the terminating zero.
constexpr DWORD kValueBuffer = 1025;
constexpr char kTypeCommand[] = "\\shell\\open\\command";
constexpr char kExtensionCommand[] = "shell\\open\\command";

// The default value of an open key; nothing when it is missing, is no text, or does
// not fit the buffer (a cut command line would start the wrong thing).
std::optional<std::string> ReadDefaultValue(HKEY key) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size > kValueBuffer)
    return std::nullopt;
  char buffer[kValueBuffer] = {};
  size = kValueBuffer;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::string(buffer, strnlen(buffer, size));
}

// Read access is all this needs: asking for more fails for an ordinary user on the
// machine-wide associations.
bool OpenForReading(HKEY parent, const std::string& path, win::ScopedKey& key) {
  return RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

std::string ReadCommand(HKEY parent, const std::string& path) {
  win::ScopedKey key;
  if (!OpenForReading(parent, path, key)) return "";
  return ReadDefaultValue(key.Get()).value_or("");
}

}  // namespace

TWebLink::TWebLink() : Url("http://www.morrow.de/"), EMail("info@morrow.de") {}

std::string TWebLink::ReadBrowserCommand() {
  for (const char* extension : kHtmlExtensions) {
    win::ScopedKey key;
    if (!OpenForReading(HKEY_CLASSES_ROOT, extension, key)) continue;
    const std::optional<std::string> fileType = ReadDefaultValue(key.Get());
    if (!fileType) continue;
    std::string command;
    if (!fileType->empty()) command = ReadCommand(HKEY_CLASSES_ROOT, *fileType + kTypeCommand);
    if (command.empty()) command = ReadCommand(key.Get(), kExtensionCommand);
    if (!command.empty()) return RemovePlaceholders(command);
  }
  return "";
}

TWebLink::Browser TWebLink::FindBrowser() {
  BrowserCommand split = SplitBrowserCommand(ReadBrowserCommand());
  return {split.program, split.parameters};
}

bool TWebLink::OpenUrl() const {
  Browser browser = FindBrowser();
  if (browser.program.empty()) return false;
  win::Form* main = win::App().MainForm();
  const std::string parameters = Url + " " + browser.parameters;
  const auto shellExecute = win::Late<decltype(ShellExecuteA)>("shell32.dll", "ShellExecuteA");
  HINSTANCE result = shellExecute(main ? main->Handle() : nullptr, nullptr, browser.program.c_str(),
                                  parameters.c_str(), nullptr, SW_RESTORE);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace vk::widgets
