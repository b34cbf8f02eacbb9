#pragma once
// The newest complete backup, from which a new archive takes the compressed data of
// every file that has not changed since. A file counts as unchanged when the old
// entry's stamp records the last-write and change times it still has (the change
// time cannot be set back), else when its content has the size and CRC-32 that the
// old entry records, whatever its times say. The old data are not inflated here:
// the read-back check of the new archive checks every entry (data recorded as proved
// when first compressed by that CRC-32 as stored, the others inflated), and when a
// taken-over one fails it, the archive is packed again without taking anything over.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

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
  // The candidate's compressed data, `length` bytes from `offset` within them;
  // false when they cannot be located or read.
  bool Read(zip::Entry& entry, uint64_t offset, void* buffer, size_t length);

 private:
  // Positional reads of the one handle, one at a time, through the window: the
  // entries taken over mostly follow each other in the file.
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
  std::optional<WindowedAccess> window_;
  zip::Mutex mutex_;
  std::unordered_map<std::u16string, zip::Entry> entries_;  // by case-folded name
};

}  // namespace vk::engine
