#include "zipengine/common/reference.h"

#include "core/errors.h"
#include "core/zip_directory.h"
#include "core/zip_names.h"

namespace vk::engine {

Reference::Reference(const std::wstring& path) {
  DWORD error = 0;
  file_ = File::OpenRead(path, &error);
  if (!file_.IsOpen()) return;
  size_ = file_.Size().value_or(0);
  window_.emplace(file_, size_);
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

bool Reference::Read(zip::Entry& entry, uint64_t offset, void* buffer, size_t length) {
  Access access(*this);
  if (entry.dataOffset == 0 && !zip::LocateData(access, &entry)) return false;
  return offset + length <= entry.compressedSize && access.ReadAt(entry.dataOffset + offset, buffer, length);
}

bool Reference::Access::ReadAt(uint64_t offset, void* buffer, size_t length) {
  std::lock_guard<zip::Mutex> lock(owner_.mutex_);
  return owner_.window_->ReadAt(offset, buffer, length);
}

}  // namespace vk::engine
