#pragma once
// Extracting an archive under the current directory. Workers inflate the entries
// ahead into temporary files beside their targets; the calling thread reports
// them in archive order and puts each in place only once its size and CRC-32 have
// checked out, so a damaged entry never replaces a good file.
#include <cstdint>
#include <string>
#include <vector>

#include "zipengine/common/reporter.h"

namespace vk::engine {

struct ExtractRequest {
  std::wstring archive;
  std::vector<std::wstring> specs;  // empty: every entry
  bool keepDirs = true;
  bool overwrite = false;
};

// The number of files extracted; 0 when there was nothing to extract;
// kResultCancelled or kResultFailed.
int32_t Extract(const ExtractRequest& request, Reporter& reporter);

}  // namespace vk::engine
