#pragma once
// TConfig keeps one text in a file or a registry string value. It does not look at
// the text: its owner hands it over in OnSave and takes it back in OnLoad.
// Destroying a TConfig saves once more.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vk::tasks {

class TConfig {
 public:
  static constexpr uint8_t kNowhere = 0;
  static constexpr uint8_t kRegistry = 1;
  static constexpr uint8_t kFile = 2;

  // Asked for the text to store; unset stores an empty text.
  std::function<void(std::string&)> OnSave;
  // Receives the text read; unset makes Load do nothing.
  std::function<void(const std::string&)> OnLoad;

  uint8_t Kind = kNowhere;
  HKEY RootKey = nullptr;  // registry kind
  std::string KeyPath;     // registry kind: key below RootKey
  std::string ValueName;   // registry kind
  std::string FileName;    // file kind: full path

  TConfig();
  TConfig(HKEY rootKey, std::string keyPath, std::string valueName);
  explicit TConfig(std::string fileName);
  // Saves once more; an error is shown by the application's error handler.
  virtual ~TConfig();
  TConfig(const TConfig&) = delete;
  TConfig& operator=(const TConfig&) = delete;

  // Stores the text from OnSave. A file is written beside the old one and then put
  // in its place, so an interrupted write never leaves a cut-off file behind.
  // Raises EInOutError "Das Verzeichnis kann nicht erstellt werden" (no directory
  // part), EFCreateError "Datei %s kann nicht erstellt werden", or ERegistryError.
  virtual void Save();
  // Reads the stored text (empty when there is none) and hands it to OnLoad.
  // Raises EFOpenError "Datei %s kann nicht geöffnet werden", or ERegistryError.
  virtual void Load();
};

// Reads a string value of an open key. False when the value does not exist; a value
// of another type raises ERegistryError "Ungültiger Datentyp für '%s'".
bool ReadRegistryString(HKEY key, const std::string& valueName, std::string& value);

}  // namespace vk::tasks
