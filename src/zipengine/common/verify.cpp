#include "zipengine/common/verify.h"

#include <algorithm>
#include <atomic>

#include "core/errors.h"
#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "zipengine/common/reporter.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

namespace {

// The waiting thread is woken this often, so that the progress it reports moves.
constexpr uint64_t kWakeBytes = 1 << 20;
// Entries are handed to the workers in runs of about this much data: a run is read
// through one window of the file, and at the end the workers share what is left.
constexpr uint64_t kRunBytes = 2 << 20;
constexpr size_t kReadBuffer = 128 * 1024;

struct Discard : zip::DataSink {
  const std::atomic<bool>& failed;
  std::atomic<uint64_t>& checked;
  zip::Signal& signal;
  Discard(const std::atomic<bool>& f, std::atomic<uint64_t>& c, zip::Signal& s) : failed(f), checked(c), signal(s) {}
  bool Write(const void*, size_t length) override { return Count(length); }
  // Counts bytes as checked; false when the check stops.
  bool Count(uint64_t length) {
    const uint64_t before = checked.fetch_add(length);
    if (before / kWakeBytes != (before + length) / kWakeBytes) {
      auto lock = signal.Lock();
      signal.Notify();
    }
    return !failed.load(std::memory_order_relaxed);
  }
  bool Stopped() const override { return true; }
};

// Data the writer proved in memory: the file must hold those very bytes, so their
// CRC-32 is enough, and they are counted as checked as if they had been inflated.
zip::DataResult CheckWrittenBytes(zip::RandomAccess& file, const zip::Entry& e, std::string& buffer,
                                  Discard& sink) {
  buffer.resize(kReadBuffer);
  uint32_t crc = 0;
  for (uint64_t done = 0; done < e.compressedSize;) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), e.compressedSize - done));
    if (!file.ReadAt(e.dataOffset + done, buffer.data(), n)) return zip::DataResult::kReadFailed;
    crc = zip::Crc32(crc, buffer.data(), n);
    done += n;
  }
  if (crc != *e.writtenCrc) return zip::DataResult::kCrcMismatch;
  return sink.Count(e.uncompressedSize) ? zip::DataResult::kOk : zip::DataResult::kStopped;
}

bool SameEntry(const zip::Entry& a, const zip::Entry& b) {
  return a.name == b.name && a.crc == b.crc && a.method == b.method &&
         a.compressedSize == b.compressedSize && a.uncompressedSize == b.uncompressedSize &&
         a.localOffset == b.localOffset && (a.flags & zip::kFlagUtf8) == (b.flags & zip::kFlagUtf8);
}

// Opens the archive and reads its directory, which must list exactly the entries written.
std::string ReadWrittenDirectory(const std::wstring& path, const std::vector<zip::Entry>& written, File* file,
                                 zip::Directory* dir) {
  DWORD error = 0;
  *file = File::OpenRead(path, &error);
  if (!file->IsOpen()) return "das Archiv kann nicht geöffnet werden: " + ErrorText(error);
  FileAccess access(*file);
  try {
    *dir = zip::ReadDirectory(access);
  } catch (const EZipDirError& e) {
    return e.what();
  }
  if (dir->entries.size() != written.size() || dir->prefix != 0)
    return "das Zentralverzeichnis stimmt nicht mit den geschriebenen Einträgen überein";
  for (size_t i = 0; i < written.size(); ++i) {
    if (!SameEntry(dir->entries[i], written[i]))
      return "der Eintrag " + Quoted(WideToAnsi(FromU16(zip::DecodeEntryName(written[i]).value_or(u"?")))) +
             " stimmt nicht mit dem geschriebenen überein";
  }
  return {};
}

}  // namespace

std::string VerifyDirectory(const std::wstring& path, const std::vector<zip::Entry>& written) {
  File file;
  zip::Directory dir;
  return ReadWrittenDirectory(path, written, &file, &dir);
}

struct ReadBackCheck::Reader {
  File file;
  zip::EntryReader entries;
  std::string buffer;
};

ReadBackCheck::ReadBackCheck(std::wstring path) : path_(std::move(path)) {
  pool_ = std::make_unique<zip::WorkerPool>();
  // The writer keeps a processor of its own while it goes on.
  limit_ = std::max(1u, pool_->Threads() - 1);
  spares_.reserve(pool_->Threads());
}

ReadBackCheck::~ReadBackCheck() {
  failed_ = true;
  pool_.reset();  // runs still queued see the stop and end at once
}

void ReadBackCheck::Written(const std::vector<zip::Entry>& written, uint64_t extent) {
  extent_ = std::max(extent_, extent);
  written_.insert(written_.end(), written.begin() + static_cast<ptrdiff_t>(written_.size()), written.end());
  HandOver(UINT64_MAX);
}

void ReadBackCheck::Ended(const std::vector<zip::Entry>& written, uint64_t dataEnd) {
  ended_ = true;
  {
    auto lock = signal_.Lock();
    limit_ = pool_->Threads();
  }
  Written(written, dataEnd);
  HandOver(dataEnd);
  Run directory;
  directory.directory = true;
  Queue(std::move(directory));
}

void ReadBackCheck::HandOver(uint64_t dataEnd) {
  size_t first = handed_;
  uint64_t bytes = 0, until = 0;
  const auto hand = [&] {
    Run run;
    run.entries.assign(written_.begin() + static_cast<ptrdiff_t>(first),
                       written_.begin() + static_cast<ptrdiff_t>(handed_));
    run.first = first;
    run.until = until;
    Queue(std::move(run));
    first = handed_;
    bytes = 0;
  };
  while (handed_ < written_.size()) {
    const uint64_t end = handed_ + 1 < written_.size() ? written_[handed_ + 1].localOffset : dataEnd;
    if (end > extent_) break;
    bytes += written_[handed_].uncompressedSize;
    until = end;
    ++handed_;
    if (bytes >= kRunBytes) hand();
  }
  if (first < handed_) hand();
}

void ReadBackCheck::Queue(Run run) {
  unsigned start = 0;
  {
    auto lock = signal_.Lock();
    queue_.push_back(std::move(run));
    ++pending_;
    if (active_ < limit_) start = static_cast<unsigned>(std::min<size_t>(limit_ - active_, queue_.size()));
    active_ += start;
  }
  for (; start > 0; --start) pool_->Submit([this] { Drain(); });
}

void ReadBackCheck::Drain() {
  while (true) {
    Run run;
    {
      auto lock = signal_.Lock();
      if (queue_.empty()) {
        --active_;
        return;
      }
      run = std::move(queue_.front());
      queue_.pop_front();
    }
    if (run.directory) {
      CheckDirectory();
    } else {
      CheckRun(run.entries, run.first, run.until);
    }
  }
}

void ReadBackCheck::CheckRun(std::vector<zip::Entry>& run, size_t first, uint64_t until) {
  std::string problem;
  size_t problemIndex = SIZE_MAX;
  std::unique_ptr<Reader> reader;
  try {
    if (!failed_) {
      // Below the writer while it goes on; the rest of the check is all that is left.
      thread_local int priority = THREAD_PRIORITY_NORMAL;
      const int wanted = ended_ ? THREAD_PRIORITY_NORMAL : THREAD_PRIORITY_BELOW_NORMAL;
      if (priority != wanted && SetThreadPriority(GetCurrentThread(), wanted)) priority = wanted;
      {
        auto lock = signal_.Lock();
        if (!spares_.empty()) {
          reader = std::move(spares_.back());
          spares_.pop_back();
        }
      }
      if (!reader) {
        reader = std::make_unique<Reader>();
        DWORD error = 0;
        reader->file = File::OpenRead(path_, &error);
        if (!reader->file.IsOpen()) problem = "das Archiv kann nicht geöffnet werden: " + ErrorText(error);
      }
      // Reads never reach beyond the run: what follows may still change.
      WindowedAccess access(reader->file, until);
      Discard sink(failed_, checked_, signal_);
      for (size_t i = 0; problem.empty() && i < run.size() && !failed_; ++i) {
        zip::Entry& e = run[i];
        const uint64_t end = i + 1 < run.size() ? run[i + 1].localOffset : until;
        zip::DataResult r = zip::DataResult::kReadFailed;
        if (zip::LocateData(access, &e)) {
          if (e.dataOffset > end || end - e.dataOffset < e.compressedSize) {
            problem = zip::RefusalText(zip::Refusal::kOverlap);
            problemIndex = first + i;
            break;
          }
          r = e.writtenCrc ? CheckWrittenBytes(access, e, reader->buffer, sink)
                           : reader->entries.Read(access, e, sink);
        }
        if (r != zip::DataResult::kOk && r != zip::DataResult::kStopped) {
          problem = zip::DataResultText(r);
          problemIndex = first + i;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    problem = "nicht genug Speicher";
  } catch (...) {
    problem = "interner Fehler";  // the check fails rather than waiting for ever
  }
  auto lock = signal_.Lock();
  if (reader && reader->file.IsOpen() && spares_.size() < spares_.capacity()) spares_.push_back(std::move(reader));
  Report(std::move(problem), problemIndex);
}

void ReadBackCheck::CheckDirectory() {
  std::string problem;
  try {
    // Every entry was handed over, unless the writer's offsets went backwards.
    if (handed_ != written_.size()) problem = "interner Fehler";
    if (!failed_ && problem.empty()) problem = VerifyDirectory(path_, written_);
  } catch (const std::bad_alloc&) {
    problem = "nicht genug Speicher";
  } catch (...) {
    problem = "interner Fehler";
  }
  auto lock = signal_.Lock();
  Report(std::move(problem), SIZE_MAX);
}

// Under signal_'s lock, at the end of a run or of the directory's check.
void ReadBackCheck::Report(std::string problem, size_t index) {
  if (!problem.empty() && reason_.empty()) {
    reason_ = std::move(problem);
    badIndex_ = index;
    failed_ = true;
  }
  --pending_;
  signal_.Notify();
}

std::string ReadBackCheck::Outcome(const std::function<bool(uint64_t)>& progress, bool* stopped) {
  constexpr uint64_t kNone = UINT64_MAX;
  bool halted = false;
  {
    auto lock = signal_.Lock();
    uint64_t reported = kNone;
    bool quiet = false;  // a pace went by without news
    const auto due = [&](uint64_t now) {
      return progress && !halted && now != reported &&
             (reported == kNone || pending_ == 0 || now / kWakeBytes != reported / kWakeBytes);
    };
    while (true) {
      if (const uint64_t now = checked_.load(); due(now) || (quiet && progress && !halted)) {
        reported = now;
        quiet = false;
        lock.unlock();
        if (!progress(now)) {
          // Workers see this at their next block of data and end.
          halted = true;
          failed_ = true;
        }
        lock.lock();
        continue;
      }
      if (pending_ == 0) break;
      quiet = !signal_.WaitFor(lock, kReportPaceMs, [&] { return pending_ == 0 || due(checked_.load()); });
    }
  }
  if (halted) {
    if (stopped) *stopped = true;
    return {};
  }
  if (reason_.empty() || badIndex_ == SIZE_MAX) return reason_;
  const auto name = zip::DecodeEntryName(written_[badIndex_]).value_or(u"?");
  return "Eintrag " + Quoted(WideToAnsi(FromU16(name))) + ": " + reason_;
}

}  // namespace vk::engine
