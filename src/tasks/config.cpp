#include "tasks/config.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "tasks/hostdir.h"
#include "win/application.h"
#include "win/handles.h"

namespace vk::tasks {
namespace {

[[noreturn]] void CannotCreate(const std::string& fileName) {
  throw EFCreateError("Datei " + fileName + " kann nicht erstellt werden");
}

[[noreturn]] void CannotOpen(const std::string& fileName) {
  throw EFOpenError("Datei " + fileName + " kann nicht geöffnet werden");
}

[[noreturn]] void CannotSetData(const std::string& valueName) {
  throw ERegistryError("Fehler beim Setzen der Daten für '" + valueName + "'");
}

bool WriteAll(HANDLE file, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

// Writes the text into a file beside the target, flushes it and moves it over the
// target in one step. The target keeps its hidden and system attributes; a
// read-only target is refused, as creating over it would be.
void ReplaceFileContents(const std::string& fileName, const std::string& text) {
  const DWORD old = GetFileAttributesA(fileName.c_str());
  if (old != INVALID_FILE_ATTRIBUTES &&
      (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    CannotCreate(fileName);
  const DWORD keep =
      old == INVALID_FILE_ATTRIBUTES ? 0 : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

  const std::string temp = fileName + ".tmp";
  SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);  // a leftover of an earlier crash
  DeleteFileA(temp.c_str());
  bool ok;
  {
    win::ScopedHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, /*dwShareMode=*/0, nullptr,
                                       CREATE_ALWAYS, keep ? keep : FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
    if (!file) CannotCreate(fileName);
    ok = WriteAll(file.Get(), text) && FlushFileBuffers(file.Get());
  }
  if (ok)
    ok = MoveFileExA(temp.c_str(), fileName.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    DeleteFileA(temp.c_str());
    CannotCreate(fileName);
  }
}

std::string ReadFileContents(const std::string& fileName) {
  const DWORD attrs = GetFileAttributesA(fileName.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return {};
  win::ScopedHandle file(CreateFileA(fileName.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) CannotOpen(fileName);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) CannotOpen(fileName);
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(file.Get(), &text[done], chunk, &got, nullptr)) CannotOpen(fileName);
    if (got == 0) break;  // shorter than it was a moment ago
    done += got;
  }
  text.resize(done);
  return text;
}

}  // namespace

bool ReadRegistryString(HKEY key, const std::string& valueName, std::string& value) {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryError("Ungültiger Datentyp für '" + valueName + "'");
  std::vector<char> buffer;
  do {
    buffer.assign(size + 1, '\0');
    size = static_cast<DWORD>(buffer.size());
    rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(buffer.data()), &size);
  } while (rc == ERROR_MORE_DATA);
  if (rc != ERROR_SUCCESS) return false;
  // The stored bytes need not end with a NUL; the text ends at the first one.
  value.assign(buffer.data(), std::min<size_t>(size, buffer.size()));
  value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
  return true;
}

TConfig::TConfig() = default;

TConfig::TConfig(HKEY rootKey, std::string keyPath, std::string valueName)
    : Kind(kRegistry), RootKey(rootKey), KeyPath(std::move(keyPath)),
      ValueName(std::move(valueName)) {}

TConfig::TConfig(std::string fileName) : Kind(kFile), FileName(std::move(fileName)) {}

TConfig::~TConfig() {
  win::App().Guard([this] { Save(); });
}

void TConfig::Save() {
  std::string text;
  if (OnSave) OnSave(text);
  if (Kind == kRegistry) {
    win::ScopedKey key;
    if (RegCreateKeyExA(RootKey, KeyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
      CannotSetData(ValueName);
    if (RegSetValueExA(key.Get(), ValueName.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS)
      CannotSetData(ValueName);
  } else if (Kind == kFile) {
    MakeDirs(ExtractFileDir(FileName));
    ReplaceFileContents(FileName, text);
  }
}

void TConfig::Load() {
  if (!OnLoad) return;
  std::string text;
  if (Kind == kRegistry) {
    win::ScopedKey key;
    if (RegOpenKeyExA(RootKey, KeyPath.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS)
      ReadRegistryString(key.Get(), ValueName, text);
  } else if (Kind == kFile) {
    text = ReadFileContents(FileName);
  }
  OnLoad(text);
}

}  // namespace vk::tasks
