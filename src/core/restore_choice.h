#pragma once
// A restore of chosen folders: which folders an archive holds, which of its files a
// choice takes, and how the extractor is told to take exactly those. Names are the
// archive's relative names, "/" or "\" as separator, compared without regard to case
// as the file system compares them.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vk {

// The registry file at the archive's top level; the choice holds it apart from the
// folders.
inline constexpr char16_t kRestoreRegFile[] = u"kestrone.reg";

// The folders of an archive, "/" separated, without a trailing "/": "" (the top
// level) first, then every folder that holds a file or is stored itself, each after
// its parent, in the order the archive first names them; one spelling per folder.
// Names that extraction would refuse give no folder.
std::vector<std::u16string> ArchiveFolders(const std::vector<std::u16string>& entryNames);

struct RestoreSelection {
  bool all = true;  // the whole archive, as a restore always did
  // Without `all`: the folders whose own files go back ("" the top level); a folder's
  // subfolders are chosen on their own.
  std::vector<std::u16string> folders;
  bool registry = true;  // the registry file goes back and is imported

  // Whether the restore writes the file of this relative name.
  bool Chosen(std::u16string_view relativeName) const;
};

// One specification for the extractor: a pattern ("folder/*": the folder with all
// below it) or one entry's exact name.
struct ExtractSpec {
  std::u16string text;
  bool literal = false;
};
// What the extractor gets so that it writes exactly the chosen entries of
// `entryNames`: nothing at all for "everything". `patternable` says whether a folder's
// name can go into a pattern (the engine reads patterns in the ANSI code page);
// the files of one that cannot are named one by one.
std::vector<ExtractSpec> ExtractSpecs(const RestoreSelection& selection,
                                      const std::vector<std::u16string>& entryNames,
                                      const std::function<bool(std::u16string_view)>& patternable);

}  // namespace vk
