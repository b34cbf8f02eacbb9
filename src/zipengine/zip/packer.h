#pragma once
// Writing an archive: the files are read in order on the calling thread, cut into
// pieces that the workers compress at the same time, and written back in order,
// with every callback on the calling thread. The archive goes to a temporary file
// beside it, is flushed and read back, and only then replaces the old one.
#include <cstdint>
#include <string>
#include <vector>

#include "zipengine/common/reporter.h"
#include "zipengine/zip/file_list.h"

namespace vk::engine {

struct PackRequest {
  std::wstring archive;
  int level = 9;  // 0 stores
  std::vector<std::wstring> specs;
  std::vector<bool> literal;  // one flag for each entry of specs: it names one file or directory, never a pattern
  std::vector<bool> folder;   // one flag for each entry of specs: the files lying directly in that directory
  std::vector<HANDLE> awaited;  // for each entry of specs: set once the caller has written that file; null: not awaited
  std::vector<std::wstring> excluded;  // files never packed
  bool recurse = false;
  bool keepDirs = true;
  // An earlier archive of the same files whose checked data unchanged files take over; none when empty.
  std::wstring reference;
};

// The entry's result: the number of files packed, 0 when there was nothing to
// pack, kResultCancelled or kResultFailed.
int32_t Pack(const PackRequest& request, Reporter& reporter);

}  // namespace vk::engine
