#pragma once
// The read-back check of a freshly written archive, before it replaces anything.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/zip_format.h"
#include "core/zip_workers.h"

namespace vk::engine {

// The archive's directory must list exactly the entries written, and every entry's
// data must inflate to its size and CRC-32. Entries are checked on all workers,
// each with its own handle. Returns the German reason of the first failure, or an
// empty text. `progress`, when given, is called on the calling thread with the
// number of bytes checked so far; when it answers false the check stops, *stopped
// is set and the result is empty.
std::string VerifyArchive(const std::wstring& path, const std::vector<zip::Entry>& written,
                          zip::WorkerPool& pool, const std::function<bool(uint64_t)>& progress = {},
                          bool* stopped = nullptr);

// Only the first half of that: the directory read back lists exactly the entries
// written. For an archive whose data need not be read back before the call returns.
std::string VerifyDirectory(const std::wstring& path, const std::vector<zip::Entry>& written);

}  // namespace vk::engine
