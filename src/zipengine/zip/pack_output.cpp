#include "zipengine/zip/pack_output.h"

#include <algorithm>

#include "zipengine/common/test_fault.h"

namespace vk::engine {

void PackOutput::Append(std::string_view data) {
  if (buffer_.size() + data.size() > kBuffer) FlushBuffer();
  if (data.size() >= kBuffer) {
    Write(base_, data);
    base_ += data.size();
  } else {
    buffer_.append(data);
  }
}

void PackOutput::Patch(uint64_t offset, std::string_view data) {
  if (offset >= base_ && offset + data.size() <= Position()) {
    std::copy(data.begin(), data.end(), buffer_.begin() + static_cast<ptrdiff_t>(offset - base_));
    return;
  }
  if (offset + data.size() > base_) FlushBuffer();
  Write(offset, data);
}

void PackOutput::Truncate(uint64_t offset) {
  if (offset >= base_) {
    buffer_.resize(static_cast<size_t>(offset - base_));
  } else {
    buffer_.clear();
    base_ = offset;
  }
}

bool PackOutput::Finish() {
  FlushBuffer();
  if (!failed_ && !file_.SetSize(base_, &error_)) failed_ = true;
  return !failed_;
}

void PackOutput::FlushBuffer() {
  if (buffer_.empty()) return;
  Write(base_, buffer_);
  base_ += buffer_.size();
  buffer_.clear();
}

void PackOutput::Write(uint64_t offset, std::string_view data) {
  if (!failed_ && TestFaultMet(directory_ ? kDiskFullInDirectory : kDiskFullInData)) {
    error_ = ERROR_DISK_FULL;
    failed_ = true;
  }
  if (!failed_ && !file_.WriteAt(offset, data.data(), data.size(), &error_)) failed_ = true;
}

}  // namespace vk::engine
