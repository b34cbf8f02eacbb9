#pragma once
// The archive being written, buffered; what was written can be patched (the local
// header, once the sizes are known) or dropped again (a file that failed midway).
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "core/zip_workers.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

// Writes the file's data back to the disk on a thread of its own while the archive
// grows, so that the flush before the archive takes its name has little left to
// do: flushing a whole archive at the end holds the caller for a time that grows
// with it, and after a cancel nothing can be reported meanwhile.
class BackgroundFlush {
 public:
  explicit BackgroundFlush(File& file);
  ~BackgroundFlush();
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;
  // Asks for a flush of what has been written so far; one asked for while another
  // runs follows it.
  void Request();

 private:
  void Run();

  File& file_;
  zip::Mutex mutex_;
  zip::CondVar wake_;
  bool wanted_ = false;
  bool ending_ = false;
  std::thread thread_;
};

class PackOutput {
 public:
  explicit PackOutput(File& file) : file_(file), flush_(file) { buffer_.reserve(kBuffer); }

  // Called after every write with how far the file now holds the archive: what lies
  // below that stays as it is, but for the entry being written (its local header, or
  // all of it when it is dropped).
  void OnWritten(std::function<void(uint64_t)> hook) { onWritten_ = std::move(hook); }

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
  static constexpr uint64_t kFlushEvery = 16 << 20;

  void FlushBuffer();
  void Write(uint64_t offset, std::string_view data);

  File& file_;
  uint64_t base_ = 0;
  std::string buffer_;
  DWORD error_ = 0;
  bool failed_ = false;
  bool directory_ = false;
  uint64_t flushedAt_ = 0;  // where the last background flush was asked for
  uint64_t extent_ = 0;     // the end of the furthest write
  std::function<void(uint64_t)> onWritten_;
  BackgroundFlush flush_;   // last: ends first, while the file is still open
};

}  // namespace vk::engine
