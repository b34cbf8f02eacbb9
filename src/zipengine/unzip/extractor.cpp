#include "zipengine/unzip/extractor.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <cwctype>
#include <unordered_map>
#include <unordered_set>

#include "core/errors.h"
#include "core/stage_log.h"
#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "core/zip_names.h"
#include "core/zip_workers.h"
#include "zipengine/common/test_fault.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

namespace {

enum class Outcome {
  kPending,
  kDone,           // checked and put in place
  kCommitFailed,   // checked, but the target could not be replaced
  kDirFailed,      // its directory cannot be created
  kExists,         // the target exists and overwriting is off
  kCreateFailed,   // neither the target nor a temporary file can be created
  kDataFailed,     // see result
  kSkipped,        // stopped before it began
};

struct Job {
  const zip::PlannedEntry* plan = nullptr;
  std::wstring target;  // full path, under the directory the call started in
  std::wstring temp;
  std::atomic<uint64_t> progress{0};
  Outcome outcome = Outcome::kPending;
  zip::DataResult result = zip::DataResult::kOk;
  DWORD error = 0;
  bool done = false;
  // Written where nothing stood: the only kind of file a stop may take away again.
  bool created = false;
  // Found different from the entry by the caller just before: replaced unread.
  bool differs = false;
  // The calling thread waits for this job: only then is it woken (under Wine
  // every wake-up is a server call), never for the jobs that finish ahead.
  bool awaited = false;
};

std::wstring Parent(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

constexpr wchar_t kTempPrefix[] = L"~vk";
// Stands in the base folder from before the first temporary file of a call until
// all of its temporary files are gone. One found at the start of a call was left
// by an extraction that was killed, and only then are the folders searched for its
// temporary files: under Wine each search costs several server calls.
constexpr wchar_t kRunMarker[] = L"~vkunzip.run";
constexpr wchar_t kTempExtension[] = L".tmp";
constexpr size_t kTempNameLength = 3 + 16 + 4;

std::wstring TempNameBeside(const std::wstring& target) {
  static std::atomic<uint32_t> counter{0};
  wchar_t name[40];
  swprintf(name, 40, L"%ls%08lX%08X%ls", kTempPrefix, GetCurrentProcessId(), counter++, kTempExtension);
  const std::wstring dir = Parent(target);
  return dir.empty() ? std::wstring(name) : dir + L"\\" + name;
}

bool IsTempName(const std::wstring& name) {
  if (name.size() != kTempNameLength || name.compare(0, 3, kTempPrefix) != 0 ||
      name.compare(kTempNameLength - 4, 4, kTempExtension) != 0)
    return false;
  return std::all_of(name.begin() + 3, name.end() - 4, [](wchar_t c) { return iswxdigit(c) != 0; });
}

// Removes the temporary files that an extraction killed before it could replace
// its targets left in a folder this one writes to. One still held open by a
// running extraction cannot be deleted and stays: then false.
bool RemoveKilledTemporaries(const std::wstring& dir) {
  const std::wstring prefix = dir.empty() ? std::wstring() : dir + L"\\";
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(ApiPath(prefix + kTempPrefix + L"*" + kTempExtension).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool all = true;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsTempName(data.cFileName))
      all = DeleteFileAt(prefix + data.cFileName) && all;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return all;
}

// Directories already made sure of by this call, so that each is created or
// looked up once and, after a killed run, cleared of its temporary files once;
// and whether this call created it, so that nothing but its own files can stand
// in it. Every folder on the way is remembered, the parents a nested one needed
// included: under Wine a second creation or a search of a folder costs server
// calls, and a file in a folder not known to be new is first looked up by name,
// which reads the whole folder.
class DirectoryCache {
 public:
  // *fresh (when given): the directory was created by this call.
  bool Make(const std::wstring& dir, DWORD* error, bool* fresh = nullptr) {
    bool search = false;
    Known* known;
    {
      // Held while creating, so that two workers never race for one folder (the
      // loser would take the folder it did create for an old one). Folders are few.
      std::lock_guard<zip::Mutex> lock(mutex_);
      known = MakeLocked(dir, error);
      if (!known) return false;
      search = searching_ && !known->created && !known->searched;
      known->searched = true;
      if (fresh) *fresh = known->created;
    }
    // Outside the lock: a file this call holds open cannot be deleted meanwhile.
    if (search) Search(dir);
    return true;
  }
  // Whether folders are searched for a killed run's temporary files when first met.
  void SearchForKilled(bool on) { searching_ = on; }
  void Search(const std::wstring& dir) {
    if (!RemoveKilledTemporaries(dir)) NoteTempLeft();
  }
  // A temporary file, this call's or a killed one's, may still be somewhere.
  void NoteTempLeft() { tempsLeft_ = true; }
  bool TempsLeft() const { return tempsLeft_; }
  // Whether nothing of a killed run can be left in this folder: this call made it
  // or has searched it already.
  bool Cleared(const std::wstring& dir) {
    std::lock_guard<zip::Mutex> lock(mutex_);
    const auto known = made_.find(SystemFoldCase(ToU16(dir)));
    return known != made_.end() && (known->second.created || known->second.searched);
  }

 private:
  struct Known {
    bool created = false;   // by this call
    bool searched = false;  // for killed runs' temporary files
  };

  // The entry of a folder that exists now; nullptr with *error when it cannot be made.
  Known* MakeLocked(const std::wstring& dir, DWORD* error) {
    const std::u16string key = SystemFoldCase(ToU16(dir));
    const auto cached = made_.find(key);
    if (cached != made_.end()) return &cached->second;
    const size_t slash = dir.find_last_of(L"\\/");
    const bool top = slash == std::wstring::npos || slash == 0 || (slash == 2 && dir[1] == L':');
    const Known* parent = nullptr;
    const std::u16string parentKey = top ? std::u16string() : SystemFoldCase(ToU16(dir.substr(0, slash)));
    if (!top) {
      const auto p = made_.find(parentKey);
      if (p != made_.end()) parent = &p->second;
    }
    Known entry;
    // In a folder made just now nothing stands: no need to ask first.
    if (!(parent && parent->created) && DirectoryExists(dir)) {
      entry.created = false;
    } else {
      if (!top && !parent && !MakeLocked(dir.substr(0, slash), error)) return nullptr;
      if (CreateDirectoryW(ApiPath(dir).c_str(), nullptr)) {
        entry.created = true;
      } else {
        const DWORD e = GetLastError();
        if (e != ERROR_ALREADY_EXISTS || !DirectoryExists(dir)) {
          *error = e;
          return nullptr;
        }
      }
    }
    return &made_.emplace(key, entry).first->second;
  }

  zip::Mutex mutex_;
  // Node-based: entries keep their place while others are added.
  std::unordered_map<std::u16string, Known> made_;
  bool searching_ = true;
  std::atomic<bool> tempsLeft_{false};
};

// What a worker reads the archive with: its own handle (a File serves one thread)
// and its inflate buffers, handed from entry to entry.
struct ReadKit {
  File archive;
  zip::EntryReader reader;
};

class ReadKits {
 public:
  explicit ReadKits(std::wstring path) : path_(std::move(path)) {}
  std::unique_ptr<ReadKit> Take(DWORD* error) {
    {
      std::lock_guard<zip::Mutex> lock(mutex_);
      if (!free_.empty()) {
        auto kit = std::move(free_.back());
        free_.pop_back();
        return kit;
      }
    }
    auto kit = std::make_unique<ReadKit>();
    kit->archive = File::OpenRead(path_, error);
    return kit->archive.IsOpen() ? std::move(kit) : nullptr;
  }
  void Give(std::unique_ptr<ReadKit> kit) {
    std::lock_guard<zip::Mutex> lock(mutex_);
    free_.push_back(std::move(kit));
  }

 private:
  std::wstring path_;
  zip::Mutex mutex_;
  std::vector<std::unique_ptr<ReadKit>> free_;
};

// Takes an entry's bytes into its new file, or, given the file already there, only
// compares them with it and stops at the first byte that differs; publishes the
// progress either way.
class FileSink : public zip::DataSink {
 public:
  FileSink(File& file, Job& job, zip::Signal& signal, const std::atomic<bool>& abort, bool compare = false)
      : file_(file), job_(job), signal_(signal), abort_(abort), compare_(compare) {}
  bool Write(const void* data, size_t length) override {
    if (abort_) {
      stopped_ = true;
      return false;
    }
    if (compare_ ? !Same(data, length) : !file_.WriteAt(offset_, data, length, &job_.error)) return false;
    const bool step = offset_ / kProgressStepBytes != (offset_ + length) / kProgressStepBytes;
    offset_ += length;
    // A file written after a comparison that found a difference starts again at
    // its beginning: the progress shown does not go back.
    if (offset_ > job_.progress.load()) job_.progress.store(offset_);
    // Waking the calling thread costs a server call under Wine: only when a
    // progress step is due.
    if (step) {
      auto lock = signal_.Lock();
      if (job_.awaited) signal_.Notify();
    }
    return true;
  }
  bool Stopped() const override { return stopped_; }

 private:
  bool Same(const void* data, size_t length) {
    constexpr size_t kSlice = 256 * 1024;
    const char* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < length;) {
      const size_t n = std::min(kSlice, length - done);
      held_.resize(n);
      if (!file_.ReadExactly(offset_ + done, held_.data(), n) || memcmp(held_.data(), bytes + done, n) != 0)
        return false;
      done += n;
    }
    return true;
  }

  File& file_;
  Job& job_;
  zip::Signal& signal_;
  const std::atomic<bool>& abort_;
  const bool compare_;
  std::string held_;
  uint64_t offset_ = 0;
  bool stopped_ = false;
};

class Extractor {
 public:
  Extractor(const ExtractRequest& request, Reporter& reporter)
      : request_(request),
        reporter_(reporter),
        archivePath_(FullPath(request.archive)),
        baseDir_(FullPath(request.baseDir.empty() ? std::wstring(L".") : request.baseDir)),
        kits_(archivePath_) {}

  ~Extractor() {
    abort_ = true;
    pool_.reset();
  }

  int32_t Run();

 private:
  void Work(Job& job);
  Outcome Write(Job& job);  // one entry into its target, on a worker
  bool AlreadyThere(Job& job, const zip::Entry& entry);
  void MarkRun();
  void Submit(Job& job);
  // later: a job submitted after this one, or the job itself. false: stopped.
  bool Deliver(Job& job, Job& later);
  void Report(Job& job);
  std::string NameText(const Job& job) const {
    return Quoted(WideToAnsi(FromU16(job.plan->name)));
  }
  // The target as the caller named it: relative to the directory of the call.
  static std::string ShownTarget(const Job& job) { return Quoted(WideToAnsi(FromU16(job.plan->target))); }
  int32_t Fail(const std::string& text) {
    reporter_.Message(kErrArchiveRead, text);
    if (!reporter_.Stopped()) reporter_.BatchEnd();
    return kResultFailed;
  }

  const ExtractRequest& request_;
  Reporter& reporter_;
  // Fixed when the call starts: the caller may change its current directory while
  // the workers still write (a dialog opened in a callback).
  const std::wstring archivePath_;
  const std::wstring baseDir_;
  zip::Directory dir_;
  zip::ExtractionPlan plan_;
  std::vector<Job> jobs_;
  int32_t extracted_ = 0;
  int32_t problems_ = 0;
  zip::Signal signal_;
  std::atomic<bool> abort_{false};
  uint64_t archiveSize_ = 0;
  ReadKits kits_;
  DirectoryCache dirs_;
  std::wstring marker_;
  bool killedBefore_ = false;  // the marker stood when this call began
  std::once_flag markOnce_;
  std::atomic<bool> marked_{false};
  std::unique_ptr<zip::WorkerPool> pool_;  // last: goes first
};

void Extractor::Work(Job& job) {
  Outcome outcome;
  try {
    TestFaultPoint();
    outcome = Write(job);
  } catch (...) {
    // Whatever went wrong, the job ends, so that the calling thread never waits for
    // it in vain.
    job.result = zip::DataResult::kWriteFailed;
    job.error = ERROR_INTERNAL_ERROR;
    outcome = Outcome::kDataFailed;
  }
  auto lock = signal_.Lock();
  job.outcome = outcome;
  job.done = true;
  if (job.awaited) signal_.Notify();
}

Outcome Extractor::Write(Job& job) {
  const zip::Entry& entry = dir_.entries[job.plan->index];
  if (abort_) return Outcome::kSkipped;
  const std::wstring parent = Parent(job.target);
  bool fresh = false;
  if (!parent.empty() && !dirs_.Make(parent, &job.error, &fresh)) return Outcome::kDirFailed;

  // A target that does not exist yet is written under its own name: created new,
  // so that nothing that exists is ever touched, and removed again through its
  // handle if the data fails its check. Anything in the way goes through a
  // temporary file beside it that replaces it only once checked.
  // In a folder this call created, the target is created at once (under Wine every
  // look-up of a missing name reads the whole folder); elsewhere whether something
  // is in the way is asked first: the question costs no server call, a creation
  // that fails does.
  File out;
  if (fresh) out = File::CreateTemporary(job.target, &job.error);
  if (!out.IsOpen()) {
    const DWORD attributes = GetFileAttributesW(ApiPath(job.target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      out = File::CreateTemporary(job.target, &job.error);
    } else if (request_.overwrite && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (!job.differs && AlreadyThere(job, entry)) return Outcome::kDone;
      if (abort_) return Outcome::kSkipped;
    }
  }
  const bool direct = out.IsOpen();
  if (!direct) {
    if (!request_.overwrite && (FileExists(job.target) || DirectoryExists(job.target)))
      return Outcome::kExists;
    MarkRun();
    for (int attempt = 0; attempt < 100 && !out.IsOpen(); ++attempt) {
      job.temp = TempNameBeside(job.target);
      out = File::CreateTemporary(job.temp, &job.error);
      if (!out.IsOpen() && job.error != ERROR_FILE_EXISTS && job.error != ERROR_ALREADY_EXISTS) break;
    }
    if (!out.IsOpen()) return Outcome::kCreateFailed;
    job.error = 0;
  }
  const std::wstring& written = direct ? job.target : job.temp;
  const auto discard = [&] {
    if (!out.Discard(written) && !direct) dirs_.NoteTempLeft();
  };
  // An exception on the way leaves nothing half-written behind.
  struct DiscardIfOpen {
    File& file;
    const decltype(discard)& discard;
    ~DiscardIfOpen() {
      if (file.IsOpen()) discard();
    }
  } discardIfOpen{out, discard};

  DWORD error = 0;
  try {
    auto kit = kits_.Take(&error);
    if (!kit) {
      job.result = zip::DataResult::kReadFailed;
    } else {
      FileAccess access(kit->archive, archiveSize_);
      FileSink sink(out, job, signal_, abort_);
      job.result = kit->reader.Read(access, entry, sink);
      kits_.Give(std::move(kit));
    }
  } catch (const std::bad_alloc&) {
    job.result = zip::DataResult::kWriteFailed;
    job.error = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (job.result != zip::DataResult::kOk) {
    discard();
    return Outcome::kDataFailed;
  }
  const FILETIME modified = DosToFileTime(entry.modified);
  SetFileTime(out.Handle(), nullptr, nullptr, &modified);
  // Stopped meanwhile: the calling thread never announced this file, so it does
  // not stay, whichever way it was written.
  if (abort_) {
    discard();
    return Outcome::kSkipped;
  }
  if (direct) {
    out.Close();
    job.created = true;
    return Outcome::kDone;
  }
  // Checked: now it may replace the target. Done here rather than on the calling
  // thread, so that the slow file system calls of many small files overlap.
  bool moved = out.RenameTo(job.target, request_.overwrite, &job.error);
  out.Close();
  // A read-only file in the way: MoveOver knows how to replace it.
  if (!moved && request_.overwrite) moved = MoveOver(job.temp, job.target, true, &job.error);
  if (!moved) {
    if (!DeleteFileAt(job.temp)) dirs_.NoteTempLeft();
    return Outcome::kCommitFailed;
  }
  return Outcome::kDone;
}

// A restore over an installation that is still intact finds most files as they are
// in the archive: such a file is left in place and only takes the entry's time.
// Reading it costs far less than writing a copy beside it and moving that over it.
bool Extractor::AlreadyThere(Job& job, const zip::Entry& entry) {
  DWORD error = 0;
  File existing = File::OpenCompare(job.target, &error);
  if (!existing.IsOpen() || existing.Size() != entry.uncompressedSize) return false;
  auto kit = kits_.Take(&error);
  if (!kit) return false;
  FileAccess access(kit->archive, archiveSize_);
  FileSink sink(existing, job, signal_, abort_, /*compare=*/true);
  const zip::DataResult result = kit->reader.Read(access, entry, sink);
  kits_.Give(std::move(kit));
  if (result != zip::DataResult::kOk || abort_) return false;
  const FILETIME modified = DosToFileTime(entry.modified);
  return SetFileTime(existing.Handle(), nullptr, nullptr, &modified) != 0;
}

// Before this call's first temporary file: a kill from here on leaves the marker.
void Extractor::MarkRun() {
  std::call_once(markOnce_, [this] {
    // Left by a killed run: it stays until this call has searched every folder.
    if (!killedBefore_) {
      const HANDLE h = CreateFileW(ApiPath(marker_).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr);
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    marked_ = true;
  });
}

void Extractor::Submit(Job& job) {
  if (job.plan->refusal != zip::Refusal::kNone || job.plan->directory) {
    job.done = true;
    return;
  }
  pool_->Submit([this, &job] { Work(job); });
}

bool Extractor::Deliver(Job& job, Job& later) {
  const zip::PlannedEntry& p = *job.plan;
  if (p.refusal != zip::Refusal::kNone) {
    std::string reason = zip::RefusalText(p.refusal);
    if (p.refusal == zip::Refusal::kBadName) reason += ": " + std::string(zip::NameProblemText(p.nameProblem));
    ++problems_;
    return reporter_.Message(kErrEntryRefused, "Eintrag " + NameText(job) + " wird nicht entpackt: " + reason);
  }
  if (p.directory) {
    DWORD error = 0;
    if (dirs_.Make(job.target, &error)) return true;
    ++problems_;
    return reporter_.Message(kErrFileWrite, "Verzeichnis " + ShownTarget(job) +
                                                " kann nicht erstellt werden: " + ErrorText(error));
  }
  const zip::Entry& entry = dir_.entries[p.index];
  if (!reporter_.FileBegins(WideToAnsi(FromU16(p.name)), entry.uncompressedSize)) return false;
  while (true) {
    bool done;
    uint64_t progress;
    {
      auto lock = signal_.Lock();
      // Woken for a progress step of this entry, or once it and a later one are
      // done, so that one wake-up serves several small files; a later one that
      // takes long is not waited for beyond the pace of the reports.
      job.awaited = later.awaited = true;
      const uint64_t seen = job.progress.load();
      signal_.WaitFor(lock, kReportPaceMs, [&] {
        return job.done ? later.done : job.progress.load() - seen >= kProgressStepBytes;
      });
      done = job.done;
      progress = job.progress.load();
    }
    if (!reporter_.Progress(progress)) return false;
    if (done) break;
  }
  Report(job);
  return !reporter_.Stopped();
}

void Extractor::Report(Job& job) {
  const std::string target = ShownTarget(job);
  switch (job.outcome) {
    case Outcome::kDone:
      ++extracted_;
      return;
    case Outcome::kCommitFailed:
      ++problems_;
      if (!request_.overwrite && (job.error == ERROR_ALREADY_EXISTS || job.error == ERROR_FILE_EXISTS)) {
        reporter_.Message(kErrFileExists, "Datei " + target + " existiert bereits und wird nicht überschrieben");
      } else {
        reporter_.Message(kErrFileWrite,
                          "Datei " + target + " kann nicht geschrieben werden: " + ErrorText(job.error));
      }
      return;
    case Outcome::kDirFailed:
      ++problems_;
      reporter_.Message(kErrFileWrite, "Verzeichnis für " + target + " kann nicht erstellt werden: " +
                                           ErrorText(job.error));
      return;
    case Outcome::kExists:
      ++problems_;
      reporter_.Message(kErrFileExists, "Datei " + target + " existiert bereits und wird nicht überschrieben");
      return;
    case Outcome::kCreateFailed:
      ++problems_;
      reporter_.Message(kErrFileWrite, "Datei " + target + " kann nicht erstellt werden: " + ErrorText(job.error));
      return;
    case Outcome::kDataFailed:
      ++problems_;
      if (job.result == zip::DataResult::kWriteFailed) {
        reporter_.Message(kErrFileWrite,
                          "Datei " + target + " kann nicht geschrieben werden: " + ErrorText(job.error));
      } else if (job.result == zip::DataResult::kReadFailed) {
        reporter_.Message(kErrArchiveRead, "Eintrag " + NameText(job) + " kann nicht aus dem Archiv " +
                                               Quoted(WideToAnsi(request_.archive)) + " gelesen werden");
      } else {
        reporter_.Message(kErrEntryDamaged, "Eintrag " + NameText(job) + " ist beschädigt (" +
                                                zip::DataResultText(job.result) +
                                                "); die Datei wird nicht geschrieben");
      }
      return;
    case Outcome::kPending:
    case Outcome::kSkipped:
      return;
  }
}

int32_t Extractor::Run() {
  const std::string archiveText = Quoted(WideToAnsi(request_.archive));
  DWORD error = 0;
  File file = File::OpenRead(archivePath_, &error);
  if (!file.IsOpen()) return Fail("Archiv " + archiveText + " kann nicht geöffnet werden: " + ErrorText(error));
  archiveSize_ = file.Size().value_or(0);
  WindowedAccess access(file, archiveSize_);
  try {
    dir_ = zip::ReadDirectory(access);
  } catch (const EZipDirError& e) {
    return Fail("Archiv " + archiveText + " ist kein lesbares ZIP-Archiv: " + e.what());
  }
  std::vector<std::u16string> specs;
  for (const auto& spec : request_.specs) specs.push_back(ToU16(spec));
  plan_ = zip::PlanExtraction(access, dir_, request_.keepDirs, specs, SystemNameRules());
  file.Close();
  LogStage("unzip-planned");

  jobs_ = std::vector<Job>(plan_.entries.size());
  const std::wstring base = baseDir_.back() == L'\\' ? baseDir_ : baseDir_ + L"\\";
  std::unordered_set<std::u16string> differing;
  for (size_t s = 0; s < request_.differs.size() && s < specs.size(); ++s)
    if (request_.differs[s]) differing.insert(zip::FoldCase(zip::SlashesToForward(specs[s])));
  for (size_t i = 0; i < jobs_.size(); ++i) {
    jobs_[i].plan = &plan_.entries[i];
    jobs_[i].target = base + FromU16(plan_.entries[i].target);
    jobs_[i].differs = !differing.empty() && differing.count(zip::FoldCase(plan_.entries[i].name)) > 0;
  }
  marker_ = base + kRunMarker;
  killedBefore_ = GetFileAttributesW(ApiPath(marker_).c_str()) != INVALID_FILE_ATTRIBUTES;
  dirs_.SearchForKilled(killedBefore_);
  // Twice as many workers as processors: a worker writing a small file spends
  // most of its time waiting for the file system (under Wine, for the server),
  // and meanwhile another can inflate.
  pool_ = std::make_unique<zip::WorkerPool>(2 * zip::WorkerPool::Processors());
  // Workers run ahead by a few entries only, so that a stop finds few files the
  // calling thread never announced; enough that they need not wait for it.
  const size_t lookahead = std::max<size_t>(8, 2 * pool_->Threads());
  size_t submitted = 0;
  size_t announced = 0;  // jobs from here on were not announced when a stop came
  for (size_t i = 0; i < jobs_.size(); ++i) {
    while (submitted < jobs_.size() && submitted < i + lookahead) Submit(jobs_[submitted++]);
    announced = i + 1;
    if (!Deliver(jobs_[i], jobs_[std::min(i + lookahead / 2, submitted - 1)])) break;
    if (i == 0) LogStage("unzip-first");
  }
  LogStage("unzip-last");
  for (size_t s : plan_.unmatchedSpecs) {
    if (reporter_.Stopped()) break;
    ++problems_;
    reporter_.Message(kErrNotInArchive, "Datei " + Quoted(WideToAnsi(request_.specs[s])) +
                                            " ist im Archiv " + archiveText + " nicht vorhanden");
  }
  const bool searchAll = killedBefore_ && !reporter_.Stopped();
  if (searchAll) {
    // Every job has ended. A killed extraction of this archive may have left
    // temporary files in folders this call wrote nothing to (it was told to write
    // only some entries): they go all the same.
    for (const std::u16string& folder : plan_.folders) {
      // Spelled as the jobs' Parent() spells their folders.
      const std::wstring dir = Parent(folder.empty() ? base : base + FromU16(folder) + L"\\");
      if (!dirs_.Cleared(dir)) pool_->Submit([this, dir] { dirs_.Search(dir); });
    }
  }
  abort_ = true;
  pool_.reset();
  // Nothing of this call's nor of a killed one's is left: the next call need not search.
  const bool markerDone = killedBefore_ ? searchAll : marked_.load();
  if (markerDone && !dirs_.TempsLeft()) DeleteFileAt(marker_);
  LogStage("unzip-joined");
  if (reporter_.Stopped()) {
    // Files the workers made new ahead of the stop were never announced: they go,
    // so that a cancel writes nothing further that did not exist before. A file
    // that was there (left in place, or replaced by the entry's bytes) stays.
    for (size_t j = announced; j < submitted; ++j)
      if (jobs_[j].outcome == Outcome::kDone && jobs_[j].created) DeleteFileAt(jobs_[j].target);
    return kResultCancelled;
  }
  reporter_.BatchEnd();
  if (extracted_ == 0 && problems_ > 0) return kResultFailed;
  return extracted_;
}

}  // namespace

int32_t Extract(const ExtractRequest& request, Reporter& reporter) {
  Extractor extractor(request, reporter);
  return extractor.Run();
}

}  // namespace vk::engine
