#pragma once
// Which files an add packs: the specifications expanded in their order, each file
// with the name it gets in the archive.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/zip_workers.h"
#include "zipengine/common/reporter.h"

namespace vk::engine {

// Only the path is kept of the names: with thousands of files every copy counts,
// and the others follow from it (ArchiveName, SourcePath).
struct SourceFile {
  std::wstring path;    // as given or found, relative to the base directory
  uint64_t size = 0;    // as listed; the file may still change
  FILETIME modified{};
  uint64_t changed = 0;  // the file system's change time as listed; 0 when unknown
  uint32_t attributes = 0;
};

struct CollectOptions {
  // Relative specifications start here (a full path); fixed for the whole call,
  // whatever becomes of the current directory meanwhile.
  std::wstring base;
  bool recurse = false;   // a directory or wildcard specification takes sub-directories too
  bool keepDirs = true;   // false: every file under its last name part
  std::vector<std::wstring> excluded;  // full paths never packed (the archive and its temporaries)
  std::vector<bool> literal;  // per specification: a name, never a pattern; missing means false
  // Per specification: a directory whose files (not its sub-directories) are packed,
  // listed in one read; missing means false.
  std::vector<bool> folder;
  // Per specification: a file the caller is still writing, looked up once this event
  // is set; missing or null means none.
  std::vector<HANDLE> awaited;
};

// The name a path gets in the archive: relative, without drive, root, "." or ".."
// steps, "/" as separator.
std::u16string ArchiveName(const std::wstring& path, bool keepDirs);

// The full path a file is read from: a relative path below base (a full path).
std::wstring SourcePath(const std::wstring& base, const std::wstring& path);

// Lists the specifications on a thread of its own, so that packing starts with the
// first folder read rather than after the last. Reports every specification but a
// folder one that names nothing, a directory named without recursion, and a file
// named twice (compared without regard to case), and goes on with the rest.
class FileFeed {
 public:
  FileFeed(std::vector<std::wstring> specs, CollectOptions options);
  // Stops the listing and waits for its thread.
  ~FileFeed();
  FileFeed(const FileFeed&) = delete;
  FileFeed& operator=(const FileFeed&) = delete;

  // Appends the files found since the last call and reports the listing's messages,
  // in their order, on the calling thread; waits up to waitMs for news first. False
  // once the listing has ended and everything has been handed over; an exception
  // that ended the listing comes out here.
  bool Take(std::deque<SourceFile>* files, Reporter& reporter, unsigned waitMs);

  class Listing;  // the thread's side

 private:
  void Run();
  // Waits for the caller's event; false when the call is stopped first or the wait fails.
  bool Written(HANDLE event);

  const std::vector<std::wstring> specs_;
  const CollectOptions options_;
  zip::Signal signal_;
  // Under the signal's lock: found, not yet taken. A message goes before the files
  // listed after it.
  std::vector<std::pair<size_t, std::pair<int32_t, std::string>>> messages_;
  std::vector<SourceFile> found_;
  bool ended_ = false;
  std::exception_ptr failure_;  // what ended the listing early, thrown on the taking thread
  std::atomic<bool> stop_{false};
  std::unique_ptr<zip::WorkerPool> thread_;  // last: goes first
};

}  // namespace vk::engine
