#pragma once
// The newest complete backup, from which a new archive takes the compressed data of
// every file that has not changed since. A file counts as unchanged when its
// content has the size and CRC-32 that the old entry records, whatever its times
// say (a program can set those back); and the old data are used only after they
// inflated to that size and CRC here. Anything else is compressed afresh.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/zip_deflate.h"
#include "core/zip_format.h"
#include "core/zip_workers.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

class Reference {
 public:
  Reference() = default;
  // A missing, unreadable or damaged archive gives an empty reference.
  explicit Reference(const std::wstring& path);
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;

  bool Empty() const { return entries_.empty(); }
  // The old entry of this archive name (letter case aside) when it holds `size`
  // bytes, stored or deflated; null otherwise, and then the file needs no CRC first.
  zip::Entry* Candidate(const std::u16string& name, uint64_t size);
  // Whether the candidate's data inflate to its size and CRC. Any thread; each one
  // with its own reader.
  bool Check(zip::Entry& entry, zip::EntryReader& reader);
  // The candidate's compressed data, `length` bytes from `offset` within them (read
  // after Check, which located them).
  bool Read(const zip::Entry& entry, uint64_t offset, void* buffer, size_t length);

 private:
  // Positional reads of the one handle, one at a time.
  class Access : public zip::RandomAccess {
   public:
    explicit Access(Reference& owner) : owner_(owner) {}
    uint64_t Size() const override { return owner_.size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) override;

   private:
    Reference& owner_;
  };

  File file_;
  uint64_t size_ = 0;
  zip::Mutex mutex_;
  std::unordered_map<std::u16string, zip::Entry> entries_;  // by case-folded name
};

}  // namespace vk::engine
