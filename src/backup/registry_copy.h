#pragma once
#include <string>

namespace vk::backup {

// Writes `branch` (e.g. "HKEY_CURRENT_USER\Software\...") into `file` as REGEDIT
// exports it, read in this process: the undo copy needs it before a restore and
// starting REGEDIT for it would cost more than the reading. A branch that does not
// exist gives a file whose import deletes the branch again. False with *why on failure.
bool WriteRegistryCopy(const std::string& file, const std::string& branch, std::string* why);

}  // namespace vk::backup
