#pragma once
// The archive being written, buffered; what was written can be patched (the local
// header, once the sizes are known) or dropped again (a file that failed midway).
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "zipengine/common/win_fs.h"

namespace vk::engine {

class PackOutput {
 public:
  explicit PackOutput(File& file) : file_(file) { buffer_.reserve(kBuffer); }

  void Append(std::string_view data);
  void Patch(uint64_t offset, std::string_view data);
  void Truncate(uint64_t offset);

  // From here on the central directory is written: the file data go out first.
  void BeginDirectory() {
    FlushBuffer();
    directory_ = true;
  }

  // Writes what is buffered and cuts the file where the archive ends.
  bool Finish();

  uint64_t Position() const { return base_ + buffer_.size(); }
  bool Failed() const { return failed_; }
  DWORD Error() const { return error_; }

 private:
  static constexpr size_t kBuffer = 1 << 20;

  void FlushBuffer();
  void Write(uint64_t offset, std::string_view data);

  File& file_;
  uint64_t base_ = 0;
  std::string buffer_;
  DWORD error_ = 0;
  bool failed_ = false;
  bool directory_ = false;
};

}  // namespace vk::engine
