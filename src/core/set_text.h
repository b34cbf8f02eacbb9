#pragma once
// The text of a ".set" task file, both ways: ten Key=Value entries in one comma
// list, and an eleventh, Generations, only when it is not 1. Pure functions: the decimal separator and the default archive name come
// from the caller, which reads them from the system.
#include <cstdint>
#include <functional>
#include <string>

#include "core/datetime.h"

namespace vk {

constexpr char kDefaultInclDirs[] = ".,.\\Filebase,.\\Inbound,.\\MsgBase";
constexpr char kDefaultZipSuffix[] = "\\Backup\\KestroneBackup.zip";

// The fields of one backup task that its file stores, with their defaults.
struct SetFields {
  std::string Name;
  bool Active = true;
  std::string InclDirs = kDefaultInclDirs;
  bool UseDefZipName = false;
  std::string DefZipName;
  int32_t AutoMode = kAutoNever;
  int32_t AutoDays = 7;
  TDateTime LastBackup = 0;
  bool SaveRegistry = true;
  bool SaveFiles = true;
  // How many complete backups of a fixed archive name are kept; below 1 counts as 1.
  int32_t Generations = 1;
};

// The default archive of a host installation directory (empty: "\Backup\...").
std::string DefaultZipName(const std::string& hostDir);

// Builds the file's text. A DefZipName in surrounding double quotes loses them (every
// enclosing pair) in `fields` too, so the task and its file agree.
std::string SaveSetText(SetFields& fields, char decimalSeparator);

// Reads a file's text: keys in any case and order, the first of a repeated key
// counts, a missing or empty value takes the default. `defaultZipName` is asked only
// when DefZipName needs its default. Raises EConvertError on a value that is not a
// number; nothing is returned then.
SetFields LoadSetText(const std::string& text, char decimalSeparator,
                      const std::function<std::string()>& defaultZipName);

// Numbers as the task files hold them.
// The general format: at most 15 significant digits, trailing zeros dropped, the
// exponent form ("1,5E20", "1E-7") only outside 0.00001 <= |v| < 1E15.
std::string FloatToText(double value, char decimalSeparator);
// Strict parsing: an optional sign and decimal digits (and for floats one decimal
// mark, the given separator, '.' or ',', and an exponent); anything else, blanks
// included, raises EConvertError "'%s' ist kein gültiger Integerwert" / "... Fließkommawert".
int32_t TextToInt(const std::string& text);
double TextToFloat(const std::string& text, char decimalSeparator);

}  // namespace vk
