#include "zipengine/zip/pack_output.h"

#include <algorithm>

#include "zipengine/common/test_fault.h"

namespace vk::engine {

BackgroundFlush::BackgroundFlush(File& file) : file_(file) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    // Without the thread, the flush at the end does all the work.
  }
}

BackgroundFlush::~BackgroundFlush() {
  {
    std::lock_guard<zip::Mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.NotifyAll();
  if (thread_.joinable()) thread_.join();
}

void BackgroundFlush::Request() {
  {
    std::lock_guard<zip::Mutex> lock(mutex_);
    wanted_ = true;
  }
  wake_.NotifyAll();
}

void BackgroundFlush::Run() {
  std::unique_lock<zip::Mutex> lock(mutex_);
  while (true) {
    wake_.Wait(lock, [this] { return wanted_ || ending_; });
    if (ending_) return;
    wanted_ = false;
    lock.unlock();
    // A failure shows again in the flush at the end, which reports it.
    DWORD error = 0;
    file_.Flush(&error);
    lock.lock();
  }
}

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
  if (failed_) return;
  if (offset + data.size() >= flushedAt_ + kFlushEvery) {
    flushedAt_ = offset + data.size();
    flush_.Request();
  }
  extent_ = std::max<uint64_t>(extent_, offset + data.size());
  if (onWritten_) onWritten_(extent_);
}

}  // namespace vk::engine
