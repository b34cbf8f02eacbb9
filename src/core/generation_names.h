#pragma once
// The names of the older backups kept beside a fixed archive: "KestroneBackup.zip"
// keeps the one it replaced as "KestroneBackup (2026-12-08 14-05-33).zip", named by
// that backup's time, so that sorting by name sorts by age.
#include <string>
#include <vector>

#include "core/datetime.h"

namespace vk {

// The older backup's name for `archive` (a path or a bare file name), written at `time`.
std::string GenerationName(const std::string& archive, const LocalTime& time);

// Whether the bare file name `candidate` is an older backup of the archive whose bare
// file name is `archiveName` (letter case aside, as the file system compares).
bool IsGenerationOf(const std::string& archiveName, const std::string& candidate);

// Of the older backups' names (bare, or all in one folder), those to remove so that `keep` remain: the
// oldest ones, in no particular order.
std::vector<std::string> GenerationsBeyond(std::vector<std::string> names, int keep);

}  // namespace vk
