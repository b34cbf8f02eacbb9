#pragma once
// The pure rules of a restore that first keeps what it overwrites: when a file on
// disk counts as newer than its copy in the archive, and the texts of the question
// before and the report after.
#include <cstddef>
#include <string>
#include <vector>

#include "core/zip_format.h"

namespace vk {

// How many files the question names; the rest are only counted.
constexpr size_t kNamedNewerFiles = 5;

// The undo copy's name, relative to the host directory.
constexpr char kUndoCopyName[] = "Backup\\KestroneBackup (vor dem Zurückschreiben).zip";

// Whether a file last written at `disk` is newer than an entry stored at `entry`.
// Both in two-second steps: a file written within the same step is not newer.
bool IsNewerOnDisk(zip::DosDateTime disk, zip::DosDateTime entry);

// "09.12.2026 16:40".
std::string GermanDateTime(const zip::CivilTime& t);

// The question before files newer on disk are overwritten: how many, the first
// few names (relative to the host directory), and the archive's date.
std::string NewerFilesQuestion(const std::vector<std::string>& names, const std::string& archiveDate);

// The restore's closing report; `undoCopy` empty when none was written.
std::string RestoreSummary(size_t written, size_t alreadyRight, const std::string& undoCopy);

}  // namespace vk
