#include "widgets/placement_storage.h"

#include <vector>

#include "core/errors.h"

namespace vk::widgets {

TRegistryPlacementStorage::TRegistryPlacementStorage(const std::string& keyPath)
    : keyPath_(!keyPath.empty() && keyPath[0] == '\\' ? keyPath.substr(1) : keyPath) {
  // A key that cannot be opened leaves reads at their defaults; writes report it.
  RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                  KEY_ALL_ACCESS, nullptr, key_.Receive(), nullptr);
}

std::string TRegistryPlacementStorage::ReadString(const std::string& section,
                                                  const std::string& name) {
  win::ScopedKey sub;
  if (!key_ ||
      RegOpenKeyExA(key_.Get(), section.c_str(), 0, KEY_READ, sub.Receive()) != ERROR_SUCCESS)
    return "";
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(sub.Get(), name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return "";
  if (rc != ERROR_SUCCESS) throw ERegistryError("Konnte Daten für '" + name + "' nicht holen");
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryError("Ungültiger Datentyp für '" + name + "'");
  std::vector<char> data(size + 1, '\0');
  if (RegQueryValueExA(sub.Get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    throw ERegistryError("Konnte Daten für '" + name + "' nicht holen");
  return std::string(data.data());
}

void TRegistryPlacementStorage::WriteString(const std::string& section, const std::string& name,
                                           const std::string& value) {
  win::ScopedKey sub;
  if (!key_ || RegCreateKeyExA(key_.Get(), section.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_WRITE, nullptr, sub.Receive(), nullptr) != ERROR_SUCCESS)
    throw ERegistryError("Erzeugung von Schlüssel " + section + " misslungen");
  if (RegSetValueExA(sub.Get(), name.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
    throw ERegistryError("Konnte Daten für '" + name + "' nicht setzen");
}

std::string TIniPlacementStorage::ReadString(const std::string& section, const std::string& name) {
  char buffer[2048];
  DWORD n = GetPrivateProfileStringA(section.c_str(), name.c_str(), "", buffer, sizeof buffer,
                                     fileName_.c_str());
  return std::string(buffer, n);
}

void TIniPlacementStorage::WriteString(const std::string& section, const std::string& name,
                                       const std::string& value) {
  if (!WritePrivateProfileStringA(section.c_str(), name.c_str(), value.c_str(), fileName_.c_str()))
    throw EInOutError("Konnte Daten für '" + name + "' nicht setzen");
}

}  // namespace vk::widgets
