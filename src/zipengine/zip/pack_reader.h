#pragma once
#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "zipengine/common/reference.h"
#include "zipengine/common/win_fs.h"
#include "zipengine/zip/file_list.h"
#include "zipengine/zip/pack_piece.h"

namespace vk::engine {

File OpenSource(const std::wstring& path, DWORD* error);

// Reads a small file whole into the piece, on a worker; sets p.error when it cannot
// be read, p.grew when it has grown beyond kWholeFileLimit since it was listed.
void ReadWhole(const std::wstring& path, uint64_t listedSize, Piece& p);

// Reads the files in order, one piece at a time, on the calling thread.
class PieceReader {
 public:
  // With a reference, every file gets its candidate entry there, if any. A file's
  // times are recorded only when its change time lies before settledBefore: the
  // file system's clock is coarse, and a write in the same tick as the listing
  // would leave the time as it was.
  PieceReader(const std::deque<SourceFile>& files, const std::wstring& base, BufferPool& buffers,
              Reference* reference, bool keepDirs, uint64_t settledBefore)
      : files_(files),
        base_(base),
        buffers_(buffers),
        reference_(reference),
        keepDirs_(keepDirs),
        settledBefore_(settledBefore) {}

  // The bytes the next piece brings into memory, its output included (a whole
  // file's listed size twice).
  size_t NextBytes() const {
    if (file_.IsOpen() || index_ >= files_.size() || files_[index_].size > kWholeFile) return 2 * kPieceSize;
    return 2 * static_cast<size_t>(files_[index_].size);
  }

  // The next piece, or null when every file listed so far has been read. A file
  // that cannot be opened or read comes as its last piece with its error set.
  std::unique_ptr<Piece> Next();

 private:
  std::unique_ptr<Piece> Failed(std::unique_ptr<Piece> p, DWORD error);
  zip::Entry* Candidate(const std::wstring& path, uint64_t size) const;
  // A file whose candidate's stamp is its own: one piece that takes the candidate
  // over without the file being opened.
  bool UnchangedByStamp(Piece& p);
  // A large file whose content has its candidate's CRC: it becomes one piece that
  // takes the candidate over.
  bool Unchanged(Piece& p);

  const std::deque<SourceFile>& files_;
  const std::wstring& base_;
  BufferPool& buffers_;
  Reference* const reference_;
  const bool keepDirs_;
  const uint64_t settledBefore_;
  size_t index_ = 0;
  File file_;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
  std::string carry_;
};

}  // namespace vk::engine
