#include "backup/restore_plan.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "backup/run_form.h"
#include "backup/zip_archiver.h"
#include "core/errors.h"
#include "core/restore_texts.h"
#include "core/zip_directory.h"
#include "core/zip_workers.h"
#include "tasks/hostdir.h"
#include "win/syserror.h"
#include "zipengine/common/win_fs.h"

namespace vk::backup {

namespace {

// Read in pieces this large: the compare goes through the whole installation.
constexpr size_t kCompareBuffer = 1 << 20;
// The undo copy is thrown away by the next restore: speed matters more than size.
constexpr int kUndoCompLevel = 6;
// The registry file is put aside under this suffix while the export takes its name.
constexpr char kAsideSuffix[] = ".vkundo";
constexpr char kWorkSuffix[] = ".vknew";

struct DiskFile {
  bool exists = false;  // a file, not a directory
  uint64_t size = 0;
  FILETIME modified{};
  uint64_t changed = 0;
};

DiskFile Probe(const std::wstring& path) {
  engine::FileFacts facts;
  DiskFile f;
  if (!engine::QueryFile(path, &facts) || (facts.attributes & FILE_ATTRIBUTE_DIRECTORY)) return f;
  return {true, facts.size, facts.modified, facts.changed};
}

// Whether the file holds exactly `size` bytes with this CRC-32; one that cannot be
// read counts as different, so that the undo copy is asked to keep it.
bool SameContent(const std::wstring& path, uint64_t size, uint32_t crc, std::vector<char>& buffer) {
  DWORD error = 0;
  engine::File file = engine::File::OpenRead(path, &error);
  if (!file.IsOpen()) return false;
  uint32_t sum = 0;
  uint64_t offset = 0;
  for (;;) {
    // One byte more than should be left: a read that comes back short is the end,
    // and no further read is needed to find it.
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - offset + 1));
    size_t got = 0;
    if (!file.ReadAt(offset, buffer.data(), want, &got, &error)) return false;
    sum = zip::Crc32(sum, buffer.data(), got);
    offset += got;
    if (got < want || offset > size) break;
  }
  return offset == size && sum == crc;
}

enum class Found : uint8_t { kMissing, kRight, kRightButTime, kDiffers, kNewer };

Found Compare(const std::wstring& path, const zip::Entry& entry, std::vector<char>& buffer) {
  const DiskFile disk = Probe(path);
  if (!disk.exists) return Found::kMissing;
  const uint64_t written = engine::FileTimeTicks(disk.modified);
  const bool sameSize = disk.size == entry.uncompressedSize;
  // The very file the backup packed: the same trust its reuse of an entry gives it.
  const bool stamped =
      sameSize && entry.stamp.changed != 0 && entry.stamp == zip::FileStamp{written, disk.changed};
  // The archive keeps times to two seconds: a file whose time it holds so is right,
  // else almost every file would be given a time of its own again.
  if (stamped || (sameSize && SameContent(path, entry.uncompressedSize, entry.crc, buffer)))
    return engine::FileTimeToDos(disk.modified) == entry.modified ? Found::kRight : Found::kRightButTime;
  return IsNewerOnDisk(engine::FileTimeToDos(disk.modified), entry.modified) ? Found::kNewer : Found::kDiffers;
}

// Runs each(i, buffer) for i in [0, count) on up to two threads, each with a buffer
// of its own, until `stop` (when given) turns true. An exception on either ends both
// and reaches the caller.
template <class F>
void OnTwoThreads(size_t count, F each, size_t bufferSize = kCompareBuffer, const std::atomic<bool>* stop = nullptr) {
  std::atomic<size_t> next{0};
  auto run = [&] {
    std::vector<char> buffer(bufferSize);
    for (size_t i; !(stop && *stop) && (i = next++) < count;) each(i, buffer);
  };
  std::exception_ptr helperFailed;
  std::thread helper;
  try {
    if (zip::WorkerPool::Processors() > 1 && count > 1)
      helper = std::thread([&] {
        try {
          run();
        } catch (...) {
          helperFailed = std::current_exception();
          next = count;
        }
      });
  } catch (const std::system_error&) {
    // No second thread: this one does it all.
  }
  try {
    run();
  } catch (...) {
    next = count;
    if (helper.joinable()) helper.join();
    throw;
  }
  if (helper.joinable()) helper.join();
  if (helperFailed) std::rethrow_exception(helperFailed);
}

zip::CivilTime LocalWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME local;
  SYSTEMTIME st;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &st))
    return {};
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

void DeleteIfThere(const std::string& path) {
  if (!FileExists(path)) return;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

bool Move(const std::string& from, const std::string& to, std::string* why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  *why = win::SysErrorMessage(GetLastError());
  return false;
}

}  // namespace

RestorePlan PlanRestore(const std::string& archive, const std::string& hostDir, const RestoreFilter& filter,
                        const std::atomic<bool>* stop) {
  RestorePlan plan;
  DWORD error = 0;
  engine::File file = engine::File::OpenRead(engine::AnsiToWide(archive), &error);
  if (!file.IsOpen()) throw EFOpenError("Datei " + archive + " kann nicht geöffnet werden");
  // The local headers of thousands of entries are read through a window: each read
  // of its own would be a call of its own.
  engine::WindowedAccess access(file, file.Size().value_or(0));
  zip::Directory dir = zip::ReadDirectory(access);
  const zip::ExtractionPlan extraction =
      zip::PlanExtraction(access, dir, /*keepDirs=*/true, {}, engine::SystemNameRules());
  file.Close();
  plan.archiveTime = LocalWriteTime(archive);

  const std::wstring base = Wide(hostDir) + L"\\";
  const std::wstring regFile = Wide(kRegFileName);
  std::vector<const zip::PlannedEntry*> files;
  // Whether each folder stands: in one that does not (an emptied installation has
  // none) no file is looked up, since under Wine each look-up of a missing name
  // costs a search.
  std::unordered_map<std::wstring, bool> folders;
  const auto folderStands = [&](const std::wstring& target) {
    const size_t slash = target.rfind(L'\\');
    if (slash == std::wstring::npos) return true;
    const std::wstring folder = target.substr(0, slash);
    const auto known = folders.find(folder);
    if (known != folders.end()) return known->second;
    return folders.emplace(folder, engine::DirectoryExists(base + folder)).first->second;
  };
  std::vector<char> standing;  // per file: whether its folder stands
  for (const zip::PlannedEntry& p : extraction.entries) {
    const std::wstring target = engine::FromU16(p.target);
    const bool registry = !p.directory && _wcsicmp(target.c_str(), regFile.c_str()) == 0;
    plan.holdsRegistry = plan.holdsRegistry || (registry && p.refusal == zip::Refusal::kNone);
    if (filter && !filter(p.directory ? target + L"\\" : target)) continue;
    if (p.refusal != zip::Refusal::kNone) {
      plan.refusals = true;
    } else if (!p.directory) {
      files.push_back(&p);
      standing.push_back(folderStands(target));
    } else if (!engine::DirectoryExists(base + target)) {
      plan.folders.push_back(target);
    }
  }

  std::vector<Found> found(files.size());
  OnTwoThreads(files.size(), [&](size_t i, std::vector<char>& buffer) {
    if (!standing[i]) {
      found[i] = Found::kMissing;
      return;
    }
    found[i] = Compare(base + engine::FromU16(files[i]->target), dir.entries[files[i]->index], buffer);
  }, kCompareBuffer, stop);
  if (stop && *stop) return plan;
  for (size_t i = 0; i < files.size(); ++i) {
    const zip::Entry& entry = dir.entries[files[i]->index];
    RestoreFile f{engine::FromU16(files[i]->target), entry.uncompressedSize, entry.modified};
    const bool registry = _wcsicmp(f.target.c_str(), regFile.c_str()) == 0;
    switch (found[i]) {
      case Found::kMissing:
        plan.created.push_back(f);
        break;
      case Found::kRightButTime:
        plan.retimed.push_back(f);
        [[fallthrough]];
      case Found::kRight:
        ++plan.alreadyRight;
        break;
      case Found::kNewer:
      case Found::kDiffers:
        if (registry) {
          // Written, but what it stands for (the registry) is kept by the undo copy.
          plan.created.push_back(f);
          break;
        }
        if (found[i] == Found::kNewer) plan.newer.push_back(f);
        plan.replaced.push_back(f);
        break;
    }
  }
  return plan;
}

std::vector<std::string> WriteSpecs(const RestorePlan& plan) {
  // Without a wildcard a specification is looked up as one entry's name: "[", "]" and
  // blanks stand for themselves, and a name the code page cannot spell goes in UTF-8.
  std::vector<std::string> specs;
  // The plan has just read the files it replaces: the engine need not read them again.
  for (const RestoreFile& f : plan.replaced) specs.push_back(engine::kDiffersSpecMark + EngineSpec(f.target));
  for (const RestoreFile& f : plan.created) specs.push_back(EngineSpec(f.target));
  for (const std::wstring& folder : plan.folders) specs.push_back(EngineSpec(folder + L"\\"));
  return specs;
}

std::vector<RestoreFile> Retime(const RestorePlan& plan, const std::string& hostDir) {
  const std::wstring base = Wide(hostDir) + L"\\";
  std::vector<char> done(plan.retimed.size());
  OnTwoThreads(plan.retimed.size(), [&](size_t i, std::vector<char>&) {
    const RestoreFile& f = plan.retimed[i];
    DWORD error = 0;
    engine::File file = engine::File::OpenCompare(base + f.target, &error);
    const FILETIME modified = engine::DosToFileTime(f.modified);
    done[i] = file.IsOpen() && SetFileTime(file.Handle(), nullptr, nullptr, &modified);
  }, /*bufferSize=*/0);
  std::vector<RestoreFile> refused;
  for (size_t i = 0; i < done.size(); ++i)
    if (!done[i]) refused.push_back(plan.retimed[i]);
  return refused;
}

std::vector<std::string> ShownNames(const std::vector<RestoreFile>& files) {
  std::vector<std::string> names;
  for (const RestoreFile& f : files) names.push_back(engine::WideToAnsi(f.target));
  return names;
}

UndoCopy::UndoCopy(std::string hostDir, TZipArchiver& zip, RegistryExport exportRegistry)
    : hostDir_(std::move(hostDir)), zip_(zip), exportRegistry_(std::move(exportRegistry)) {}

UndoCopy::~UndoCopy() {
  // A copy that could not take its place stays where the user was told it is.
  if (!keepWork_) DeleteIfThere(WorkPath());
  DeleteIfThere(WorkPath() + engine::kTempSuffix);
  DeleteIfThere(WorkPath() + engine::kCancelledSuffix);
}

std::string UndoCopyPath(const std::string& hostDir) { return hostDir + "\\" + kUndoCopyName; }

std::string UndoCopyWorkPath(const std::string& hostDir) { return UndoCopyPath(hostDir) + kWorkSuffix; }

bool UndoCopy::Write(const RestorePlan& plan, bool registry, std::string* why) {
  why->clear();
  const std::string undo = Path();
  if (tasks::DirExists(undo)) {
    *why = "an ihrer Stelle steht ein Verzeichnis";
    return false;
  }
  // The previous copy must be replaceable once the extraction is over: better to
  // find out now, before anything is written.
  if (FileExists(undo)) {
    HANDLE h = CreateFileA(undo.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *why = "die vorherige Rückgängig-Kopie kann nicht ersetzt werden: " + win::SysErrorMessage(GetLastError());
      return false;
    }
    CloseHandle(h);
  }
  DWORD error = 0;
  if (!engine::MakeDirectories(Wide(tasks::ExtractFileDir(undo)), &error)) {
    *why = win::SysErrorMessage(error);
    return false;
  }
  std::vector<std::string> specs;
  for (const RestoreFile& f : plan.replaced) specs.push_back(EngineSpec(f.target));
  if (!registry) return Pack(specs, why);

  // The export takes the registry file's place in the host directory, so that it is
  // packed under its usual name; a file that lay there is put back afterwards.
  const std::string regFile = hostDir_ + "\\" + kRegFileName;
  const std::string aside = regFile + kAsideSuffix;
  const bool hadOne = FileExists(regFile);
  if (hadOne && !Move(regFile, aside, why)) return false;
  std::string notRead;
  bool ok = exportRegistry_(regFile, &notRead);
  if (!ok) {
    *why = std::string("die Registrierungsdaten \"") + kHostBranch + "\" konnten nicht kopiert werden: " + notRead;
  } else {
    specs.push_back(kRegFileName);
    ok = Pack(specs, why);
  }
  DeleteIfThere(regFile);
  std::string notBack;
  if (hadOne && !Move(aside, regFile, &notBack) && ok) {
    *why = "\"" + regFile + "\" konnte nicht zurückgelegt werden: " + notBack;
    ok = false;
  }
  return ok;
}

bool UndoCopy::Pack(const std::vector<std::string>& specs, std::string* why) {
  if (specs.empty()) return true;
  if (!SetCurrentDirectoryA(hostDir_.c_str())) {
    *why = win::SysErrorMessage(GetLastError());
    return false;
  }
  const std::string work = WorkPath();
  DeleteIfThere(work);
  std::string firstMessage;
  const AddOpts options = zip_.AddOptions;
  const int level = zip_.AddCompLevel;
  auto onMessage = std::move(zip_.OnMessage);
  zip_.OnMessage = [&](int, const std::string& message) {
    if (firstMessage.empty()) firstMessage = message;
  };
  zip_.AddOptions = {AddDirNames};
  zip_.AddCompLevel = kUndoCompLevel;
  zip_.SetZipFilename(work);
  zip_.FSpecArgs = specs;
  zip_.Add();
  zip_.AddOptions = options;
  zip_.AddCompLevel = level;
  zip_.OnMessage = std::move(onMessage);
  // Every file the restore overwrites must be in the copy: one that the engine
  // could not take fails it as a whole.
  if (zip_.Aborted() || zip_.DllResult() <= 0 || !FileExists(work) || !firstMessage.empty()) {
    *why = firstMessage.empty() ? "das Archiv-Modul hat sie nicht geschrieben" : firstMessage;
    DeleteIfThere(work);
    return false;
  }
  written_ = true;
  return true;
}

bool UndoCopy::Commit(std::string* why) {
  if (!written_) return true;
  if (!Move(WorkPath(), Path(), why)) {
    keepWork_ = true;
    return false;
  }
  written_ = false;
  return true;
}

}  // namespace vk::backup
