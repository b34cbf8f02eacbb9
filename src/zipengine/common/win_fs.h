#pragma once
// The engine's file system seam: ANSI names from the command records become wide
// paths (in the "\\?\" form when they are long, so that names beyond MAX_PATH
// work), files are read and written at explicit offsets, and Win32 error codes
// become the system's message text.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/zip_directory.h"
#include "core/zip_format.h"

namespace vk::engine {

std::wstring AnsiToWide(std::string_view ansi);
// For display: characters without an ANSI form become "?".
std::string WideToAnsi(std::wstring_view wide);
std::u16string ToU16(std::wstring_view wide);
std::wstring FromU16(std::u16string_view text);

// Upper case as the system compares file names (its own mapping, not a locale's).
std::u16string SystemFoldCase(std::u16string_view text);
// Entry names on this system: undeclared names in its OEM code page, its case fold.
zip::NameRules SystemNameRules();

// The form of a path that the W functions take whatever its length.
std::wstring ApiPath(const std::wstring& path);
std::wstring FullPath(const std::wstring& path);
// The system's text for an error code, without the trailing line break.
std::string ErrorText(DWORD error);

zip::DosDateTime FileTimeToDos(const FILETIME& utc);
inline uint64_t FileTimeTicks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}
FILETIME DosToFileTime(zip::DosDateTime dos);

// What the system knows of a file without opening it, with the time of its last
// change of any kind (content, size, attributes, name), which no program can set
// back: what SetFileTime sets is only the last-write time. changed is 0 where the
// file system keeps no such time.
struct FileFacts {
  DWORD attributes = 0;
  uint64_t size = 0;
  FILETIME modified{};
  uint64_t changed = 0;
};
bool QueryFile(const std::wstring& path, FileFacts* facts);

// The entries of one directory ("." and ".." left out) with the same facts, the
// change time included, from one read of the directory; false when it cannot be read.
struct FolderEntry {
  std::wstring name;
  FileFacts facts;
};
bool ListFolder(const std::wstring& dir, std::vector<FolderEntry>* entries);

bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Creates the directory and its missing parents; the path is relative or full.
// *created (when given) tells whether the directory itself was made by this call.
bool MakeDirectories(const std::wstring& path, DWORD* error, bool* created = nullptr);
bool DeleteFileAt(const std::wstring& path);
// Replaces (or, without replace, only creates) target by source in one step.
bool MoveOver(const std::wstring& source, const std::wstring& target, bool replace, DWORD* error);

// An owned file handle; every transfer names its offset, so that the writer can
// patch what it wrote. The handle's file position follows the transfers (seeking
// only when needed, plain ReadFile and WriteFile: under Wine an OVERLAPPED offset
// costs a server round trip per call), so one File serves one thread at a time.
// After a fault on the thread that called the engine: the workers stop, then every
// file the abandoned call still holds is closed, its temporary files deleted, so that
// the next call can replace them.
void EndCallAfterFault();

class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : handle_(other.handle_), position_(other.position_) {
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  static File OpenRead(const std::wstring& path, DWORD* error);
  // For reading a file that may then take a new time stamp, whoever else has it open.
  static File OpenCompare(const std::wstring& path, DWORD* error);
  // disposition: CREATE_ALWAYS, CREATE_NEW, ...
  static File Create(const std::wstring& path, DWORD disposition, DWORD* error);
  // A new file (never one that exists) that is written once and then renamed or
  // deleted through its handle.
  static File CreateTemporary(const std::wstring& path, DWORD* error);

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }
  // Up to length bytes; *got is 0 at the end of the file.
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* got, DWORD* error);
  bool ReadExactly(uint64_t offset, void* buffer, size_t length);
  bool WriteAt(uint64_t offset, const void* data, size_t length, DWORD* error);
  bool SetSize(uint64_t size, DWORD* error);
  bool Flush(DWORD* error);
  // Moves the open file over target (a handle opened by CreateTemporary): one
  // call, where MoveFileEx would open the file again.
  bool RenameTo(const std::wstring& target, bool replace, DWORD* error);
  std::optional<uint64_t> Size() const;
  void Close();
  // Closes and deletes a file made by CreateTemporary; path is its name, used when
  // the handle cannot delete it. false: the file may still be there.
  bool Discard(const std::wstring& path);

 private:
  static constexpr uint64_t kUnknown = ~uint64_t{0};
  File(HANDLE handle, bool temporary);
  bool Seek(uint64_t offset, DWORD* error);
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  uint64_t position_ = 0;  // where the handle's file pointer is
};

class FileAccess : public zip::RandomAccess {
 public:
  explicit FileAccess(File& file) : file_(file), size_(file.Size().value_or(0)) {}
  FileAccess(File& file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    return file_.ReadExactly(offset, buffer, length);
  }

 private:
  File& file_;
  uint64_t size_;
};

// Reads of a few bytes here and there in increasing order (the local headers of
// thousands of small entries) served from a window of the file read ahead: under
// Wine every read of the file is a call of its own. Longer reads go to the file.
class WindowedAccess : public zip::RandomAccess {
 public:
  static constexpr size_t kWindow = 64 * 1024;
  WindowedAccess(File& file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override;

 private:
  File& file_;
  uint64_t size_;
  uint64_t start_ = 0;  // where the window begins in the file
  std::string window_;
};

}  // namespace vk::engine
