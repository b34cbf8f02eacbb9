#pragma once
// Extracting an archive under the current directory. Workers inflate a few entries
// ahead, each into a temporary file beside its target, which replaces the target
// only once its size and CRC-32 have checked out, so a damaged entry never takes
// the place of a good file. The calling thread reports the entries in archive
// order. After a cancel the workers stop; entries they had already finished ahead
// of the reports (a handful at most) stay extracted.
#include <cstdint>
#include <string>
#include <vector>

#include "zipengine/common/reporter.h"

namespace vk::engine {

struct ExtractRequest {
  std::wstring archive;
  std::wstring baseDir;  // where the entries go; empty: the current directory at the call
  std::vector<std::wstring> specs;  // empty: every entry
  // Per specification: the caller found its file different from the entry just
  // before, so it is replaced unread. May be shorter than specs.
  std::vector<bool> differs;
  bool keepDirs = true;
  bool overwrite = false;
};

// The number of files extracted; 0 when there was nothing to extract;
// kResultCancelled or kResultFailed.
int32_t Extract(const ExtractRequest& request, Reporter& reporter);

}  // namespace vk::engine
