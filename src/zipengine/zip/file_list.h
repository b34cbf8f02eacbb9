#pragma once
// Which files an add packs: the specifications expanded in their order, each file
// with the name it gets in the archive.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zipengine/common/reporter.h"

namespace vk::engine {

// Only the path is kept of the names: with thousands of files every copy counts,
// and the others follow from it (ArchiveName, SourcePath).
struct SourceFile {
  std::wstring path;    // as given or found, relative to the base directory
  uint64_t size = 0;    // as listed; the file may still change
  FILETIME modified{};
  uint64_t changed = 0;  // the file system's change time as listed; 0 when unknown
  uint32_t attributes = 0;
};

struct CollectOptions {
  // Relative specifications start here (a full path); fixed for the whole call,
  // whatever becomes of the current directory meanwhile.
  std::wstring base;
  bool recurse = false;   // a directory or wildcard specification takes sub-directories too
  bool keepDirs = true;   // false: every file under its last name part
  std::vector<std::wstring> excluded;  // full paths never packed (the archive and its temporaries)
  std::vector<bool> literal;  // per specification: a name, never a pattern; missing means false
  // Per specification: a directory whose files (not its sub-directories) are packed,
  // listed in one read; missing means false.
  std::vector<bool> folder;
};

// The name a path gets in the archive: relative, without drive, root, "." or ".."
// steps, "/" as separator.
std::u16string ArchiveName(const std::wstring& path, bool keepDirs);

// The full path a file is read from: a relative path below base (a full path).
std::wstring SourcePath(const std::wstring& base, const std::wstring& path);

// Reports every specification but a folder one that names nothing, a directory named without
// recursion, and a file named twice (compared without regard to case), and goes on
// with the rest; stops early only when the callback says so.
std::vector<SourceFile> CollectFiles(const std::vector<std::wstring>& specs, const CollectOptions& options,
                                     Reporter& reporter);

}  // namespace vk::engine
