#include "backup/registry_copy.h"

#include <windows.h>

#include <vector>

#include "core/regexport.h"
#include "win/syserror.h"
#include "zipengine/common/win_fs.h"

namespace vk::backup {
namespace {

// Reads `key` and everything below it, depth first in the registry's order.
LSTATUS ReadKey(HKEY key, const std::wstring& path, std::vector<RegExportKey>* keys) {
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                                    &maxName, &maxData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  keys->push_back({engine::ToU16(path), {}});
  std::wstring name(maxName + 1, L'\0');
  std::string data(maxData, '\0');
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameLength = maxName + 1, dataLength = maxData, type = 0;
    status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &dataLength);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    keys->back().values.push_back({engine::ToU16(name.substr(0, nameLength)), type, data.substr(0, dataLength)});
  }
  std::vector<std::wstring> children;
  std::wstring child(maxSubkey + 1, L'\0');
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD length = maxSubkey + 1;
    status = RegEnumKeyExW(key, i, child.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    children.push_back(child.substr(0, length));
  }
  for (const std::wstring& c : children) {
    HKEY sub;
    status = RegOpenKeyExW(key, c.c_str(), 0, KEY_READ, &sub);
    if (status != ERROR_SUCCESS) return status;
    status = ReadKey(sub, path + L"\\" + c, keys);
    RegCloseKey(sub);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool WriteRegistryCopy(const std::string& file, const std::string& branch, std::string* why) {
  const std::wstring wide(branch.begin(), branch.end());  // the branch's name is ASCII
  const size_t cut = wide.find(L'\\');
  const std::wstring rootName = wide.substr(0, cut), below = cut == std::wstring::npos ? L"" : wide.substr(cut + 1);
  const HKEY root = rootName == L"HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  std::vector<RegExportKey> keys;
  HKEY key;
  LSTATUS status = RegOpenKeyExW(root, below.c_str(), 0, KEY_READ, &key);
  if (status == ERROR_FILE_NOT_FOUND) {
    status = ERROR_SUCCESS;  // no keys: the copy deletes the branch
  } else if (status == ERROR_SUCCESS) {
    status = ReadKey(key, wide, &keys);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    *why = win::SysErrorMessage(static_cast<DWORD>(status));
    return false;
  }
  const std::string bytes = RegExportFile(engine::ToU16(wide), keys);
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok = out != INVALID_HANDLE_VALUE &&
                  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  const DWORD error = GetLastError();
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (!ok) {
    DeleteFileA(file.c_str());
    *why = win::SysErrorMessage(error);
  }
  return ok;
}

}  // namespace vk::backup
