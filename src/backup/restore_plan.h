#pragma once
// What a restore is about to do, found before it writes anything: which files of
// the archive would replace different content on disk (and which of those are
// newer on disk), which are already right, which are new. And the undo copy: the
// current version of every file about to be replaced, and the host's registry
// branch, packed as an ordinary backup into one archive beside the backups.
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/zip_format.h"

namespace vk::backup {

class TZipArchiver;

struct RestoreFile {
  std::wstring target;  // relative to the host directory, "\" as separator
  uint64_t size = 0;
  zip::DosDateTime modified;  // the entry's
};

struct RestorePlan {
  std::vector<RestoreFile> replaced;  // on disk with other content
  std::vector<RestoreFile> newer;     // of those, the ones last written after the entry
  std::vector<RestoreFile> created;   // not on disk
  // Of the files already right, those whose last-write time is not the entry's: the
  // restore only gives them that time.
  std::vector<RestoreFile> retimed;
  std::vector<std::wstring> folders;  // stored folders not on disk
  size_t alreadyRight = 0;
  // Entries the extraction refuses (a bad name, a duplicate, ...): only an extraction
  // of everything reports them.
  bool refusals = false;
  bool holdsRegistry = false;  // the archive holds the registry file at its top
  zip::CivilTime archiveTime;  // when the archive was written, local time

  size_t Count() const { return replaced.size() + created.size() + alreadyRight; }
};

// Which of the archive's files the restore writes, by their relative target; an
// empty filter takes every file.
using RestoreFilter = std::function<bool(const std::wstring& target)>;

// Compares the archive's entries with the files under `hostDir` on two threads: a
// file whose size, last-write and change time are those the backup recorded for it
// holds the entry's content (no program can set a change time back); any other is
// compared by size, then by the CRC-32 of its content. The registry file at the top
// is never counted as replaced: the undo copy holds the registry itself under that
// name. Raises vk::EZipDirError when the archive's directory cannot be read. Once
// `stop` (when given) turns true the comparing ends and the plan returned is not whole.
RestorePlan PlanRestore(const std::string& archive, const std::string& hostDir, const RestoreFilter& filter = {},
                        const std::atomic<bool>* stop = nullptr);

// The extractor's specifications that name exactly what the plan found missing or
// different; empty when nothing is. Each names one entry, whatever its characters.
std::vector<std::string> WriteSpecs(const RestorePlan& plan);

// Gives the plan's retimed files the entry's last-write time; the ones that refuse
// it are returned, to be written like a different file.
std::vector<RestoreFile> Retime(const RestorePlan& plan, const std::string& hostDir);

// The files' relative names as the user reads them.
std::vector<std::string> ShownNames(const std::vector<RestoreFile>& files);

// Where a restore keeps its undo copy, and the work name it is written under.
std::string UndoCopyPath(const std::string& hostDir);
std::string UndoCopyWorkPath(const std::string& hostDir);

// The undo copy of one restore. It is written under a work name and put in place
// only once the extraction has finished, since the archive being restored may be
// the previous undo copy itself.
class UndoCopy {
 public:
  // exportRegistry writes the host's branch into the file it is given: false with
  // *why when it could not.
  using RegistryExport = std::function<bool(const std::string& file, std::string* why)>;
  UndoCopy(std::string hostDir, TZipArchiver& zip, RegistryExport exportRegistry);
  ~UndoCopy();  // removes a work copy that was not put in place
  UndoCopy(const UndoCopy&) = delete;
  UndoCopy& operator=(const UndoCopy&) = delete;

  std::string Path() const { return UndoCopyPath(hostDir_); }
  std::string WorkPath() const { return UndoCopyWorkPath(hostDir_); }
  // Packs the plan's replaced files, and the registry when `registry`, under the
  // work name. False with *why when it could not be written completely, or when
  // the copy could not take its place afterwards; a cancel through the archive
  // component also gives false, with *why empty.
  bool Write(const RestorePlan& plan, bool registry, std::string* why);
  // Puts the written copy in place of the previous one; nothing to do when no copy
  // was written. On failure the copy stays under WorkPath().
  bool Commit(std::string* why);

 private:
  bool Pack(const std::vector<std::string>& specs, std::string* why);

  std::string hostDir_;
  TZipArchiver& zip_;
  RegistryExport exportRegistry_;
  bool written_ = false;   // the work copy holds this restore's undo copy
  bool keepWork_ = false;  // it could not take its place and stays under the work name
};

}  // namespace vk::backup
