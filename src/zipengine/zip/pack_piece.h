#pragma once
// What the packer holds in memory while it works: the files' data cut into pieces,
// each compressed by one worker, and the piece-sized buffers handed round.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/zip_format.h"
#include "core/zip_workers.h"

namespace vk::engine {

// A piece is what one worker compresses at a time; the limits keep memory bounded
// whatever the file sizes, while giving every worker enough to do. The bytes in
// flight count a piece's input and, as much again, its output.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kMaxInFlightBytes = 10 << 20;
constexpr size_t kMaxInFlightPieces = 64;
// A file listed up to this size is read whole by a worker and compressed in one go,
// so that opening the many small files overlaps too; larger files go in pieces,
// which the workers compress side by side within the memory bound.
constexpr size_t kWholeFile = 2 << 20;
// A whole file that has grown beyond this meanwhile is reported and left out.
constexpr size_t kWholeFileLimit = kWholeFile + kPieceSize;
constexpr uint32_t kDosAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

struct SourceFile;

struct Piece {
  size_t file = 0;
  const SourceFile* source = nullptr;  // the file of a whole piece, for its worker
  bool first = false;
  bool last = false;
  bool whole = false;     // a small file, read by the worker
  size_t accounted = 0;   // counted against the in-flight limit
  DWORD error = 0;  // the file could not be opened (first) or read
  uint64_t fileSize = 0;
  zip::DosDateTime modified;
  uint32_t attributes = 0;
  std::string input;
  size_t inputLength = 0;
  // Filled by the worker: a whole file's output in a buffer of its own, of which
  // only the part the data fill is ever touched.
  std::string output;
  std::unique_ptr<char[]> wholeBuffer;
  std::string_view wholeOutput;
  uint32_t crc = 0;
  uint32_t outputCrc = 0;  // of the compressed data, which were proved to reproduce the input
  bool stored = false;  // a whole file that deflate does not shrink
  bool grew = false;    // a whole file beyond kWholeFileLimit
  const char* failure = nullptr;  // why the work could not be done
  // The data are in memory: from the start, or for a whole file once its worker
  // has read it; the file can then be announced while it is compressed.
  bool read = false;
  bool begun = false;  // the file was announced
  // Recorded for the entry: the file's times as listed, when they had settled.
  zip::FileStamp stamp;
  // The earlier archive's entry of this name and size: its data are taken over
  // (reused) when its stamp is the file's, or the file's content has its CRC; else
  // the file is compressed.
  zip::Entry* candidate = nullptr;
  bool reused = false;
  bool done = false;
  // The calling thread waits for this piece: only then is it woken (under Wine
  // every wake-up is a server call), not for every piece that finishes.
  bool awaited = false;
};

// Piece-sized buffers handed round instead of freed: under Wine a block this
// large is mapped and unmapped each time, and every fresh page faults.
class BufferPool {
 public:
  // Frees the spares once no piece needs them any more.
  void Clear() {
    std::lock_guard<zip::Mutex> lock(mutex_);
    spare_.clear();
  }
  std::string Take() {
    std::lock_guard<zip::Mutex> lock(mutex_);
    if (spare_.empty()) return {};
    std::string b = std::move(spare_.back());
    spare_.pop_back();
    b.clear();
    return b;
  }
  // Leaves b empty.
  void Give(std::string& b) {
    // Whole files' larger buffers are freed: kept, they would hold memory for good.
    if (b.capacity() >= kPieceSize / 2 && b.capacity() <= kPieceSize + kPieceSize / 4) {
      std::lock_guard<zip::Mutex> lock(mutex_);
      if (spare_.size() < kMaxSpare) spare_.push_back(std::move(b));
    }
    std::string().swap(b);
  }

 private:
  // As many as the pieces in flight can hold, inputs and outputs: a large file's
  // pieces then reuse them all instead of faulting in fresh pages.
  static constexpr size_t kMaxSpare = kMaxInFlightBytes / kPieceSize;
  zip::Mutex mutex_;
  std::vector<std::string> spare_;
};

// States kept between the workers' tasks (compressors, readers), handed round.
template <class T>
class Spares {
 public:
  template <class Make>
  std::unique_ptr<T> Take(const Make& make) {
    {
      std::lock_guard<zip::Mutex> lock(mutex_);
      if (!spare_.empty()) {
        std::unique_ptr<T> t = std::move(spare_.back());
        spare_.pop_back();
        return t;
      }
    }
    return make();
  }
  void Give(std::unique_ptr<T> t) {
    std::lock_guard<zip::Mutex> lock(mutex_);
    spare_.push_back(std::move(t));
  }

 private:
  zip::Mutex mutex_;
  std::vector<std::unique_ptr<T>> spare_;
};

}  // namespace vk::engine
