#include "tasks/hostdir.h"

#include <windows.h>

#include "core/errors.h"
#include "tasks/config.h"
#include "widgets/browse_dialog.h"
#include "win/handles.h"

namespace vk::tasks {
namespace {

constexpr char kHostKey[] = "Software\\Gray.Fern.Labs\\Kestrone";
constexpr char kProgDir[] = "ProgDir";

// The directory the user named in this run; it stands in for a missing registry value.
std::string& Remembered() {
  static std::string dir;
  return dir;
}

size_t LastDelimiter(const std::string& path) {
  const size_t p = path.find_last_of("\\:");
  return p == std::string::npos ? 0 : p + 1;
}

}  // namespace

std::string ExtractFilePath(const std::string& path) { return path.substr(0, LastDelimiter(path)); }

std::string ExtractFileDir(const std::string& path) {
  size_t n = LastDelimiter(path);
  if (n > 1 && path[n - 1] == '\\' && path[n - 2] != ':' && path[n - 2] != '\\') --n;
  return path.substr(0, n);
}

std::string GetHostDir() {
  std::string dir;
  win::ScopedKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kHostKey, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS)
    ReadRegistryString(key.Get(), kProgDir, dir);
  if (!dir.empty() && dir.back() == '\\') dir.pop_back();
  if (!dir.empty()) {
    Remembered() = dir;
    return dir;
  }
  if (!Remembered().empty()) return Remembered();

  widgets::TBrowseDialog dialog;
  dialog.Caption = "Bitte Kestrone-Verzeichnis angeben.";
  dialog.Root = "C:\\Programme";
  if (dialog.Execute()) {
    dir = dialog.Directory;  // as the shell gives it; a drive root keeps its backslash
    Remembered() = dir;
  }
  return dir;
}

void ResetRememberedHostDirForTesting() { Remembered().clear(); }

bool DirExists(const std::string& path) {
  const DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeDirs(const std::string& path) {
  if (path.empty()) throw EInOutError("Das Verzeichnis kann nicht erstellt werden");
  std::string dir = path;
  if (dir.back() == '\\') dir.pop_back();
  if (dir.size() < 3 || DirExists(dir) || ExtractFilePath(dir) == dir) return;
  MakeDirs(ExtractFilePath(dir));
  CreateDirectoryA(dir.c_str(), nullptr);
}

}  // namespace vk::tasks
