#include "zipengine/common/verify.h"

#include <atomic>

#include "core/errors.h"
#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "zipengine/common/reporter.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

namespace {

// The checking thread is woken this often, so that the progress it reports moves.
constexpr uint64_t kWakeBytes = 1 << 20;

struct Discard : zip::DataSink {
  const std::atomic<bool>& failed;
  std::atomic<uint64_t>& checked;
  zip::Signal& signal;
  Discard(const std::atomic<bool>& f, std::atomic<uint64_t>& c, zip::Signal& s) : failed(f), checked(c), signal(s) {}
  bool Write(const void*, size_t length) override {
    const uint64_t before = checked.fetch_add(length);
    if (before / kWakeBytes != (before + length) / kWakeBytes) {
      auto lock = signal.Lock();
      signal.Notify();
    }
    return !failed.load(std::memory_order_relaxed);
  }
  bool Stopped() const override { return true; }
};

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

std::string VerifyArchive(const std::wstring& path, const std::vector<zip::Entry>& written,
                          zip::WorkerPool& pool, const std::function<bool(uint64_t)>& progress,
                          bool* stopped) {
  File file;
  zip::Directory dir;
  if (std::string problem = ReadWrittenDirectory(path, written, &file, &dir); !problem.empty()) return problem;
  FileAccess access(file);

  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::atomic<uint64_t> checked{0};
  zip::Signal signal;
  unsigned running = pool.Threads();
  size_t badIndex = SIZE_MAX;
  std::string reason;
  for (unsigned t = 0; t < pool.Threads(); ++t) {
    pool.Submit([&] {
      std::string problem;
      size_t problemIndex = SIZE_MAX;
      try {
        DWORD openError = 0;
        File own = File::OpenRead(path, &openError);
        if (!own.IsOpen()) {
          problem = "das Archiv kann nicht geöffnet werden: " + ErrorText(openError);
        } else {
          WindowedAccess ownAccess(own, access.Size());
          Discard sink(failed, checked, signal);
          zip::EntryReader reader;
          for (size_t i; !failed && (i = next++) < dir.entries.size();) {
            zip::Entry& e = dir.entries[i];
            zip::DataResult r = zip::DataResult::kReadFailed;
            if (zip::LocateData(ownAccess, &e)) r = reader.Read(ownAccess, e, sink);
            if (r != zip::DataResult::kOk && r != zip::DataResult::kStopped) {
              problem = zip::DataResultText(r);
              problemIndex = i;
              break;
            }
          }
        }
      } catch (const std::bad_alloc&) {
        problem = "nicht genug Speicher";
      } catch (...) {
        problem = "interner Fehler";  // the check fails rather than waiting for ever
      }
      auto lock = signal.Lock();
      if (!problem.empty() && reason.empty()) {
        reason = problem;
        badIndex = problemIndex;
        failed = true;
      }
      --running;
      signal.Notify();
    });
  }
  bool halted = false;
  {
    auto lock = signal.Lock();
    uint64_t seen = 0;
    while (running != 0) {
      signal.Wait(lock, [&] {
        return running == 0 || (progress && !halted && checked.load() / kWakeBytes != seen / kWakeBytes);
      });
      if (running == 0) break;
      seen = checked.load();
      lock.unlock();
      if (!progress(seen)) {
        // Workers see this at their next block of data and end.
        halted = true;
        failed = true;
      }
      lock.lock();
    }
  }
  if (halted) {
    if (stopped) *stopped = true;
    return {};
  }
  if (reason.empty() || badIndex == SIZE_MAX) return reason;
  const auto name = zip::DecodeEntryName(written[badIndex]).value_or(u"?");
  return "Eintrag " + Quoted(WideToAnsi(FromU16(name))) + ": " + reason;
}

}  // namespace vk::engine
