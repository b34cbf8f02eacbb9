#pragma once
// Reading an archive's central directory (with ZIP64), locating every entry's
// data through its local header, and the checks that decide which entries
// extraction may write: safe names, no duplicates, no overlapping data, no links,
// no encryption, only stored and deflated data.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/zip_format.h"
#include "core/zip_names.h"

namespace vk::zip {

// Positional reads of an archive; the engine supplies one over a Win32 file.
class RandomAccess {
 public:
  virtual ~RandomAccess() = default;
  virtual uint64_t Size() const = 0;
  // Exactly length bytes at offset, or false.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
};

class MemoryAccess : public RandomAccess {
 public:
  explicit MemoryAccess(std::string_view data) : data_(data) {}
  uint64_t Size() const override { return data_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override;

 private:
  std::string_view data_;
};

struct Directory {
  std::vector<Entry> entries;  // central directory order
  uint64_t centralOffset = 0;
  uint64_t centralSize = 0;
  // Bytes in front of the archive proper (a stub); already added to the offsets.
  uint64_t prefix = 0;
  bool zip64 = false;
};

// Reads the end records and the central directory. Throws vk::EZipDirError with a
// German reason when the archive as a whole cannot be read. The entries' local
// headers are not read here (see LocateData).
Directory ReadDirectory(RandomAccess& file);

// Reads an entry's local header to find where its data begins (sets dataOffset).
// False when the header is missing or damaged.
bool LocateData(RandomAccess& file, Entry* entry);

// Why an entry is not extracted; kNone when it may be.
enum class Refusal {
  kNone,
  kBadName,         // see NameProblem
  kNameEncoding,    // bit 11 set but not UTF-8
  kDuplicate,       // same target as an earlier entry, case ignored
  kOverlap,         // its bytes overlap another entry's, or the directory's
  kLocalHeader,     // local header missing or damaged
  kSymbolicLink,
  kEncrypted,
  kMethod,          // neither stored nor deflated
  kStoredSizes,     // stored, but the two sizes differ
};
const char* RefusalText(Refusal refusal);

struct PlannedEntry {
  size_t index = 0;              // into Directory::entries
  std::u16string name;           // the decoded name, "/" as separator
  std::u16string target;         // relative path to write, "\" as separator
  bool directory = false;
  Refusal refusal = Refusal::kNone;
  NameProblem nameProblem = NameProblem::kOk;
};

struct ExtractionPlan {
  std::vector<PlannedEntry> entries;  // selected entries, in archive order
  std::vector<size_t> unmatchedSpecs;  // specifications that selected nothing
  // The folders (relative, "\\" as separator, "" the base) that the archive's entries
  // with a writable name go to, selected or not, each once: where a killed
  // extraction of the same archive may have left its temporary files.
  std::vector<std::u16string> folders;
};

// How names are read and compared: the OEM code page of names without a Unicode
// form, and the case fold of the file system that receives them.
struct NameRules {
  const OemTable* oem = &kCp437;
  CaseFold fold = &FoldCase;
};

// Decides for every entry whether and where it is written. With keepDirs false
// every entry goes to its last name part. specs select entries by wildcard on the
// full name ("\" and "/" alike); empty means all. Reads the local headers.
ExtractionPlan PlanExtraction(RandomAccess& file, Directory& directory, bool keepDirs,
                              const std::vector<std::u16string>& specs,
                              const NameRules& rules = {});

}  // namespace vk::zip
