#pragma once
// Where a window's placement is kept: string values in a section of a registry key
// below HKEY_CURRENT_USER, or in a section of an ini file. A missing value reads as
// an empty text, which every reader takes as "use the default".
#include <windows.h>

#include <string>

#include "win/handles.h"

namespace vk::widgets {

class TPlacementStorage {
 public:
  virtual ~TPlacementStorage() = default;
  virtual std::string ReadString(const std::string& section, const std::string& name) = 0;
  virtual void WriteString(const std::string& section, const std::string& name,
                           const std::string& value) = 0;
};

// The key is created when it is missing (a leading backslash is dropped: the path is
// taken from HKEY_CURRENT_USER either way); a section is created by its first write.
// Raises ERegistryError with the texts the user sees in the error box.
class TRegistryPlacementStorage : public TPlacementStorage {
 public:
  explicit TRegistryPlacementStorage(const std::string& keyPath);
  std::string ReadString(const std::string& section, const std::string& name) override;
  void WriteString(const std::string& section, const std::string& name,
                   const std::string& value) override;

 private:
  std::string keyPath_;
  win::ScopedKey key_;
};

// A file name without a folder lies in the Windows directory, as the profile
// functions have it.
class TIniPlacementStorage : public TPlacementStorage {
 public:
  explicit TIniPlacementStorage(std::string fileName) : fileName_(std::move(fileName)) {}
  std::string ReadString(const std::string& section, const std::string& name) override;
  void WriteString(const std::string& section, const std::string& name,
                   const std::string& value) override;

 private:
  std::string fileName_;
};

}  // namespace vk::widgets
