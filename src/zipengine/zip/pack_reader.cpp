#include "zipengine/zip/pack_reader.h"

#include <algorithm>

#include "zipengine/common/test_fault.h"

namespace vk::engine {

namespace {

// A file that another program holds open without sharing (the host writes its
// files while it runs) is tried again for about two seconds before it counts as
// unreadable.
constexpr int kOpenAttempts = 9;
constexpr DWORD kOpenRetryWait = 250;

}  // namespace

File OpenSource(const std::wstring& path, DWORD* error) {
  if (TestFaultMet(kSourceVanishes)) {
    *error = ERROR_FILE_NOT_FOUND;
    return File();
  }
  for (int attempt = 1;; ++attempt) {
    File file = File::OpenRead(path, error);
    if (file.IsOpen() || attempt == kOpenAttempts ||
        (*error != ERROR_SHARING_VIOLATION && *error != ERROR_LOCK_VIOLATION))
      return file;
    Sleep(kOpenRetryWait);
  }
}

void ReadWhole(const std::wstring& path, uint64_t listedSize, Piece& p) {
  File file = OpenSource(path, &p.error);
  if (!file.IsOpen()) return;
  std::string& in = p.input;
  in.resize(static_cast<size_t>(listedSize) + 1);
  size_t have = 0;
  while (true) {
    if (have == in.size()) {
      if (in.size() > kWholeFileLimit) {
        p.grew = true;
        std::string().swap(in);
        return;
      }
      in.resize(std::min(in.size() * 2, kWholeFileLimit + 1));
    }
    size_t got = 0;
    if (!file.ReadAt(have, in.data() + have, in.size() - have, &got, &p.error)) {
      std::string().swap(in);
      return;
    }
    if (got == 0) break;
    have += got;
  }
  in.resize(have);
  p.inputLength = have;
  p.fileSize = have;
}

std::unique_ptr<Piece> PieceReader::Next() {
  auto p = std::make_unique<Piece>();
  if (!file_.IsOpen()) {
    if (index_ >= files_.size()) return nullptr;
    p->first = true;
    const SourceFile& listed = files_[index_];
    if (listed.changed != 0 && listed.changed < settledBefore_)
      p->stamp = {FileTimeTicks(listed.modified), listed.changed};
    if (UnchangedByStamp(*p)) return p;
    if (listed.size <= kWholeFile) {
      p->whole = p->last = true;
      p->source = &listed;
      p->file = index_++;
      p->accounted = 2 * static_cast<size_t>(listed.size);
      p->modified = FileTimeToDos(listed.modified);
      p->attributes = listed.attributes & kDosAttributes;
      p->candidate = Candidate(listed.path, listed.size);
      return p;
    }
    DWORD error = 0;
    file_ = OpenSource(SourcePath(base_, files_[index_].path), &error);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file_.IsOpen() && !GetFileInformationByHandle(file_.Handle(), &info)) {
      error = GetLastError();
      file_.Close();
    }
    if (!file_.IsOpen()) return Failed(std::move(p), error);
    p->fileSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    p->modified = FileTimeToDos(info.ftLastWriteTime);
    p->attributes = info.dwFileAttributes & kDosAttributes;
    size_ = p->fileSize;
    offset_ = 0;
    carry_.clear();
    if (Unchanged(*p)) return p;
  }
  p->file = index_;
  std::string& in = p->input;
  in = buffers_.Take();
  in.append(carry_);
  carry_.clear();
  size_t have = in.size();
  const uint64_t known = size_ > offset_ ? size_ - offset_ : 0;
  in.resize(static_cast<size_t>(std::min<uint64_t>(kPieceSize, have + std::max<uint64_t>(known, 1))));
  bool eof = false;
  while (have < kPieceSize) {
    if (have == in.size()) in.resize(std::min(kPieceSize, in.size() * 2));
    size_t got = 0;
    DWORD error = 0;
    if (!file_.ReadAt(offset_, in.data() + have, in.size() - have, &got, &error))
      return Failed(std::move(p), error);
    if (got == 0) {
      eof = true;
      break;
    }
    have += got;
    offset_ += got;
  }
  in.resize(have);
  if (!eof && offset_ >= size_) {
    // A full piece where the file should end: find out now, so that this piece
    // can end the deflate stream.
    char c;
    size_t got = 0;
    DWORD error = 0;
    if (!file_.ReadAt(offset_, &c, 1, &got, &error)) return Failed(std::move(p), error);
    if (got == 0) {
      eof = true;
    } else {
      carry_.assign(1, c);
      offset_ += 1;
    }
  }
  p->inputLength = have;
  p->accounted = 2 * have;
  if (eof) {
    p->last = true;
    file_.Close();
    ++index_;
  }
  return p;
}

zip::Entry* PieceReader::Candidate(const std::wstring& path, uint64_t size) const {
  return reference_ ? reference_->Candidate(ArchiveName(path, keepDirs_), size) : nullptr;
}

bool PieceReader::UnchangedByStamp(Piece& p) {
  const SourceFile& listed = files_[index_];
  zip::Entry* candidate = Candidate(listed.path, listed.size);
  if (!candidate || candidate->stamp.changed == 0 ||
      !(candidate->stamp == zip::FileStamp{FileTimeTicks(listed.modified), listed.changed}))
    return false;
  p.candidate = candidate;
  p.reused = p.last = true;
  p.fileSize = listed.size;
  p.modified = FileTimeToDos(listed.modified);
  p.attributes = listed.attributes & kDosAttributes;
  p.file = index_++;
  return true;
}

// Read here once for its CRC, which is far cheaper than compressing it; a file
// that differs is then read again in pieces.
bool PieceReader::Unchanged(Piece& p) {
  zip::Entry* candidate = Candidate(files_[index_].path, p.fileSize);
  if (!candidate) return false;
  std::string buffer = buffers_.Take();
  buffer.resize(kPieceSize);
  uint32_t crc = 0;
  uint64_t have = 0;
  bool read = true;
  while (have <= p.fileSize) {
    size_t got = 0;
    DWORD error = 0;
    read = file_.ReadAt(have, buffer.data(), buffer.size(), &got, &error);
    if (!read || got == 0) break;
    crc = zip::Crc32(crc, buffer.data(), got);
    have += got;
  }
  buffers_.Give(buffer);
  // A read error is met again, and reported, when the file is packed.
  if (!read || have != p.fileSize || crc != candidate->crc) return false;
  p.candidate = candidate;
  p.reused = p.last = true;
  p.file = index_++;
  file_.Close();
  return true;
}

std::unique_ptr<Piece> PieceReader::Failed(std::unique_ptr<Piece> p, DWORD error) {
  p->file = index_++;
  p->error = error ? error : ERROR_READ_FAULT;
  p->last = true;
  p->input.clear();
  p->inputLength = 0;
  file_.Close();
  return p;
}

}  // namespace vk::engine
