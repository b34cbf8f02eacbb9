#include "zipengine/common/reference.h"

#include "core/errors.h"
#include "core/zip_directory.h"
#include "core/zip_names.h"

namespace vk::engine {

namespace {

// Takes the data and discards them: the reader checks size and CRC on the way.
struct Discard : zip::DataSink {
  bool Write(const void*, size_t) override { return true; }
};

}  // namespace

Reference::Reference(const std::wstring& path) {
  DWORD error = 0;
  file_ = File::OpenRead(path, &error);
  if (!file_.IsOpen()) return;
  size_ = file_.Size().value_or(0);
  Access access(*this);
  zip::Directory dir;
  try {
    dir = zip::ReadDirectory(access);
  } catch (const EZipDirError&) {
    return;  // a damaged old archive: everything is compressed afresh
  }
  const zip::OemTable& oem = *SystemNameRules().oem;
  for (zip::Entry& e : dir.entries) {
    if (!e.HasPlainData()) continue;
    const std::u16string name = zip::EntryPathName(e, oem);
    entries_.emplace(zip::FoldCase(name), std::move(e));  // a name twice: the first counts
  }
}

zip::Entry* Reference::Candidate(const std::u16string& name, uint64_t size) {
  if (entries_.empty()) return nullptr;
  const auto found = entries_.find(zip::FoldCase(name));
  return found != entries_.end() && found->second.uncompressedSize == size ? &found->second : nullptr;
}

bool Reference::Check(zip::Entry& entry, zip::EntryReader& reader) {
  Access access(*this);
  zip::Entry located = entry;
  if (!zip::LocateData(access, &located)) return false;
  Discard sink;
  if (reader.Read(access, located, sink) != zip::DataResult::kOk) return false;
  // Workers look entries up side by side: only the offset changes, under the lock.
  std::lock_guard<zip::Mutex> lock(mutex_);
  entry.dataOffset = located.dataOffset;
  return true;
}

bool Reference::Read(const zip::Entry& entry, uint64_t offset, void* buffer, size_t length) {
  uint64_t start;
  {
    std::lock_guard<zip::Mutex> lock(mutex_);
    start = entry.dataOffset;
  }
  return start != 0 && offset + length <= entry.compressedSize && Access(*this).ReadAt(start + offset, buffer, length);
}

bool Reference::Access::ReadAt(uint64_t offset, void* buffer, size_t length) {
  std::lock_guard<zip::Mutex> lock(owner_.mutex_);
  return owner_.file_.ReadExactly(offset, buffer, length);
}

}  // namespace vk::engine
