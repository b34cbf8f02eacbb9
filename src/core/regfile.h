#pragma once
// Reading a registry export file ("REGEDIT4" or "Windows Registry Editor Version
// 5.00", ANSI or UTF-16LE with byte-order mark) far enough to tell which keys an
// import of it would create or delete, so that a restore imports nothing but the
// host's own branch.
#include <optional>
#include <string>
#include <vector>

namespace vk {

struct RegFileKey {
  std::u16string path;  // as written between the brackets, without a leading "-"
  bool deletion = false;
  int line = 0;         // 1-based
};

// The keys that the file names, in file order; nullopt when it has no valid header
// (or is UTF-16 of odd length). Every line that begins with "[" after blanks counts
// as a key line, also where an importer might take it as the rest of a value: that
// errs on the side of refusing.
std::optional<std::vector<RegFileKey>> ReadRegFileKeys(const std::string& bytes);

// Whether `key` is `branch` itself or lies below it: compared without regard to ASCII
// case, component by component; empty, "." and ".." components and control
// characters make a key lie nowhere.
bool KeyLiesUnder(const std::u16string& key, const std::string& branch);

// True when the file has a valid header and every key it names lies under `branch`.
// Otherwise false, and `outside` (if given) receives the first offending key in ANSI
// (characters beyond it as "?"), or is left empty for a file without valid header.
bool RegFileStaysUnder(const std::string& bytes, const std::string& branch,
                       std::string* outside = nullptr);

}  // namespace vk
