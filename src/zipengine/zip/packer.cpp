#include "zipengine/zip/packer.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "core/errors.h"
#include "core/stage_log.h"
#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "core/zip_names.h"
#include "core/zip_workers.h"
#include "zipengine/common/reference.h"
#include "zipengine/common/verify.h"
#include "zipengine/common/test_fault.h"
#include "zipengine/common/win_fs.h"
#include "zipengine/zip/pack_output.h"
#include "zipengine/zip/pack_piece.h"
#include "zipengine/zip/pack_reader.h"

namespace vk::engine {

namespace {

constexpr size_t kCopyBuffer = 1 << 20;
constexpr size_t kReadAheadBytes = 2 * kPieceSize;
// A file whose change time is this close to the start of the call gets no stamp: the
// file system's clock ticks coarsely, and a write in the tick of the listing would
// leave the time as listed. 100 ns units.
constexpr uint64_t kSettleTicks = 2 * 10'000'000ull;
// Packing again without the earlier archive, after data taken over from it failed.
constexpr int32_t kRedo = INT32_MIN;

enum class Step { kGoOn, kStopped, kFailed, kRedo };

class Packer {
 public:
  Packer(const PackRequest& request, Reporter& reporter)
      : request_(request),
        reporter_(reporter),
        level_(std::clamp(request.level, 0, 9)),
        archive_(FullPath(request.archive)),
        base_(FullPath(L".")),
        temp_(archive_ + L".vktmp"),
        part_(archive_ + L".vkpart") {}

  ~Packer() {
    abort_ = true;
    pool_.reset();  // the workers are done with the pieces before these go
    feed_.reset();
    output_.reset();
    check_.reset();  // its workers read the temporary file
    tempFile_.Close();
    if (tempExists_) DeleteFileAt(temp_);
  }

  int32_t Run();

 private:
  bool ReadExistingArchive(std::vector<zip::Entry>* kept);
  // One attempt at the whole archive; kRedo when data taken over did not check out.
  int32_t Write(std::vector<zip::Entry>& kept, bool reuse);
  bool TakeOver(Piece& p);
  Step CopyReused(Piece& p);
  bool CopyKept(std::vector<zip::Entry>& kept);
  // Appends `size` bytes of compressed data that `read` gives from an earlier
  // archive, a buffer at a time; false when they cannot be read.
  bool AppendCopied(uint64_t size, const std::function<bool(uint64_t, void*, size_t)>& read);
  // Takes over what the listing found meanwhile; with `wait`, first waits until it
  // finds more or ends, answering the caller at its pace. False when the call is stopped.
  bool TakeListed(bool wait);
  Step PackFiles();
  Step Await(Piece& p, Piece& later);
  Step Begin(Piece& p);
  Step Consume(Piece& p);
  void Work(Piece& p);
  void Compress(Piece& p);
  int32_t Finish(const std::wstring& target);
  // Changes a byte of the temporary file, as a disk that does not keep what it was given.
  void DamageForTest(uint64_t offset);
  int32_t Fail(int32_t code, const std::string& text);
  std::string ArchiveText() const { return Quoted(WideToAnsi(request_.archive)); }
  std::string WriteError(DWORD error) const {
    return "Archiv " + ArchiveText() + " kann nicht geschrieben werden: " + ErrorText(error);
  }

  const PackRequest& request_;
  Reporter& reporter_;
  const int level_;
  // Fixed when the call starts, like the files' paths (CollectOptions::base): the
  // caller may change its current directory during a callback.
  const std::wstring archive_;
  const std::wstring base_;
  const std::wstring temp_;
  const std::wstring part_;
  std::unique_ptr<FileFeed> feed_;
  std::deque<SourceFile> files_;  // listed so far: references stay valid as it grows
  bool listed_ = false;           // the listing has ended and handed everything over
  std::vector<zip::Entry> entries_;
  int32_t packed_ = 0;
  int32_t reused_ = 0;
  uint64_t settledBefore_ = 0;

  struct Current {
    zip::Entry entry;
    bool zip64Local = false;
    bool open = false;
  } current_;

  zip::Signal signal_;
  std::deque<std::unique_ptr<Piece>> queue_;
  size_t inFlight_ = 0;
  std::atomic<bool> abort_{false};
  BufferPool buffers_;
  Spares<zip::PieceCompressor> compressors_;
  std::unique_ptr<Reference> reference_;

  File tempFile_;
  bool tempExists_ = false;
  std::unique_ptr<ReadBackCheck> check_;
  std::unique_ptr<PackOutput> output_;
  std::unique_ptr<zip::WorkerPool> pool_;  // last: goes first
};

int32_t Packer::Fail(int32_t code, const std::string& text) {
  reporter_.Message(code, text);
  if (!reporter_.Stopped()) reporter_.BatchEnd();
  return kResultFailed;
}

bool Packer::ReadExistingArchive(std::vector<zip::Entry>* kept) {
  DWORD error = 0;
  File old = File::OpenRead(archive_, &error);
  if (!old.IsOpen()) {
    Fail(kErrArchiveRead, "Das vorhandene Archiv " + ArchiveText() + " kann nicht gelesen werden: " +
                              ErrorText(error));
    return false;
  }
  FileAccess access(old);
  zip::Directory dir;
  try {
    dir = zip::ReadDirectory(access);
  } catch (const EZipDirError& e) {
    Fail(kErrArchiveRead, "Das vorhandene Archiv " + ArchiveText() + " kann nicht gelesen werden (" +
                              e.what() + "); es bleibt unverändert");
    return false;
  }
  std::unordered_set<std::u16string> replaced;
  for (const auto& f : files_) replaced.insert(zip::FoldCase(ArchiveName(f.path, request_.keepDirs)));
  const zip::OemTable& oem = *SystemNameRules().oem;
  for (auto& e : dir.entries) {
    const std::u16string name = zip::EntryPathName(e, oem);
    if (replaced.count(zip::FoldCase(name))) continue;
    if (!e.HasPlainData() || !zip::LocateData(access, &e)) {
      Fail(kErrArchiveRead, "Eintrag " + Quoted(WideToAnsi(FromU16(name))) + " des vorhandenen Archivs " +
                                ArchiveText() + " kann nicht übernommen werden; das Archiv bleibt unverändert");
      return false;
    }
    // The name is stored anew, so that it keeps its meaning without the extra field.
    // A Unix entry keeps its mode; others keep their DOS attributes.
    const bool unix = (e.versionMadeBy >> 8) == 3;
    const uint32_t attributes = e.externalAttributes;
    e.flags &= ~zip::kFlagDataDescriptor;
    zip::SetNameAndAttributes(&e, name, attributes & 0xFF);
    if (unix) {
      e.versionMadeBy = static_cast<uint16_t>((3 << 8) | (e.versionMadeBy & 0xFF));
      e.externalAttributes = attributes;
    }
    kept->push_back(std::move(e));
  }
  return true;
}

bool Packer::AppendCopied(uint64_t size, const std::function<bool(uint64_t, void*, size_t)>& read) {
  std::string buffer = buffers_.Take();
  bool ok = true;
  for (uint64_t done = 0; ok && done < size; done += buffer.size()) {
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(kCopyBuffer, size - done)));
    ok = read(done, buffer.data(), buffer.size());
    if (ok) output_->Append(buffer);
  }
  buffers_.Give(buffer);
  return ok;
}

bool Packer::CopyKept(std::vector<zip::Entry>& kept) {
  if (kept.empty()) return true;
  DWORD error = 0;
  File old = File::OpenRead(archive_, &error);
  for (auto& e : kept) {
    const uint64_t from = e.dataOffset;
    e.extra.clear();
    e.localOffset = output_->Position();
    const bool zip64Local = !zip::FitsLocalHeader(e, false);
    output_->Append(zip::LocalHeader(e, zip64Local));
    if (!AppendCopied(e.compressedSize,
                      [&](uint64_t at, void* to, size_t n) { return old.ReadExactly(from + at, to, n); })) {
      Fail(kErrArchiveRead, "Das vorhandene Archiv " + ArchiveText() + " kann nicht gelesen werden");
      return false;
    }
    if (output_->Failed()) {
      Fail(kErrArchiveWrite, WriteError(output_->Error()));
      return false;
    }
    entries_.push_back(e);
  }
  return true;
}

void Packer::Work(Piece& p) {
  if (!abort_) {
    try {
      TestFaultPoint();
      if (p.whole) {
        ReadWhole(SourcePath(base_, p.source->path), p.source->size, p);
        auto lock = signal_.Lock();
        p.read = true;
        if (p.awaited) signal_.Notify();
      }
      if (!p.error && !p.grew && !(p.candidate && TakeOver(p))) Compress(p);
    } catch (const std::bad_alloc&) {
      p.failure = "nicht genug Speicher";
    } catch (...) {
      p.failure = "interner Fehler";
    }
  }
  auto lock = signal_.Lock();
  p.done = true;
  if (p.awaited) signal_.Notify();
}

bool Packer::TakeOver(Piece& p) {
  const zip::Entry& old = *p.candidate;
  if (p.input.size() != old.uncompressedSize) return false;
  p.crc = zip::Crc32(0, p.input.data(), p.input.size());
  if (p.crc != old.crc) return false;
  p.reused = true;
  buffers_.Give(p.input);
  return true;
}

Step Packer::CopyReused(Piece& p) {
  zip::Entry& e = current_.entry;
  zip::Entry& old = *p.candidate;
  if (!AppendCopied(old.compressedSize,
                    [&](uint64_t at, void* to, size_t n) { return reference_->Read(old, at, to, n); }))
    return Step::kRedo;
  if (output_->Failed()) {
    reporter_.Message(kErrArchiveWrite, WriteError(output_->Error()));
    return Step::kFailed;
  }
  e.method = old.method;
  e.crc = old.crc;
  e.uncompressedSize = old.uncompressedSize;
  e.compressedSize = old.compressedSize;
  // Data proved when they were first compressed are checked by that CRC-32 in the new
  // file, which a damaged earlier archive fails; the others are inflated.
  e.writtenCrc = old.writtenCrc;
  if (!reporter_.Progress(e.uncompressedSize)) return Step::kStopped;
  current_.open = false;
  output_->Patch(e.localOffset, zip::LocalHeader(e, current_.zip64Local));
  entries_.push_back(e);
  ++packed_;
  ++reused_;
  return Step::kGoOn;
}

void Packer::Compress(Piece& p) {
  if (p.input.size() >= kPieceSize && TestFaultMet(kCompressionHeld)) {
    for (int wait = 0; wait < 3000 && !abort_; ++wait) Sleep(10);
    if (abort_) return;
    throw std::runtime_error("held");
  }
  p.crc = zip::Crc32(0, p.input.data(), p.input.size());
  if (level_ == 0) return;
  auto compressor = compressors_.Take([this] { return std::make_unique<zip::PieceCompressor>(level_); });
  if (p.whole) {
    p.wholeOutput = compressor->CompressWhole(p.input, &p.wholeBuffer);
  } else {
    if (p.input.size() >= kPieceSize / 2) p.output = buffers_.Take();
    compressor->Compress(p.input, p.last, &p.output);
  }
  compressors_.Give(std::move(compressor));
  if (p.first && p.last && std::max(p.output.size(), p.wholeOutput.size()) >= p.input.size()) {
    p.stored = true;
    buffers_.Give(p.output);
    p.wholeBuffer.reset();
    p.wholeOutput = {};
  } else {
    buffers_.Give(p.input);
    const std::string_view out = p.whole ? p.wholeOutput : std::string_view(p.output);
    p.outputCrc = zip::Crc32(0, out.data(), out.size());
  }
}

Step Packer::Begin(Piece& p) {
  const SourceFile& file = files_[p.file];
  zip::Entry& e = current_.entry;
  current_ = Current{};
  const std::u16string name = ArchiveName(file.path, request_.keepDirs);
  zip::SetNameAndAttributes(&e, name, p.attributes);
  e.modified = p.modified;
  e.stamp = p.stamp;
  e.localOffset = output_->Position();
  current_.zip64Local = zip::NeedsZip64Local(p.fileSize);
  current_.open = true;
  p.begun = true;
  output_->Append(zip::LocalHeader(e, current_.zip64Local));
  return reporter_.FileBegins(WideToAnsi(FromU16(name)), p.fileSize) ? Step::kGoOn : Step::kStopped;
}

// Waits until the front piece is done, woken once for several pieces: when it and
// the one halfway down the queue are both done, so that the workers still have
// the rest. Meanwhile the caller hears from the engine every kReportPaceMs (counted
// from its last callback, whatever this thread did since): the
// file is announced as soon as its data are read, and its steps are handed out
// paced, short of the last one.
Step Packer::Await(Piece& p, Piece& later) {
  // Set when the last turn had nothing to report: the next waits a whole pace.
  bool idle = false;
  while (true) {
    bool announce, pace;
    {
      auto lock = signal_.Lock();
      // A file that failed to be read is reported once its piece is done.
      const auto announceable = [&] { return p.first && p.read && !p.begun && !p.error && !p.grew; };
      if (p.done) return Step::kGoOn;
      p.awaited = later.awaited = true;
      signal_.WaitFor(lock, idle ? kReportPaceMs : reporter_.PaceLeftMs(),
                      [&] { return (p.done && later.done) || announceable(); });
      if (p.done) return Step::kGoOn;
      announce = announceable();
      pace = p.read && (!p.first || p.begun);
    }
    if (announce) {
      if (Begin(p) != Step::kGoOn) return Step::kStopped;
      idle = false;
      continue;
    }
    // A piece's steps can all be given beforehand; a file's last one waits for it.
    const uint64_t end = current_.entry.uncompressedSize + p.inputLength;
    if (pace && !reporter_.PacedProgress(p.last ? end - std::min<uint64_t>(end, kProgressStepBytes) : end))
      return Step::kStopped;
    idle = reporter_.PaceLeftMs() < kReportPaceMs / 2;
  }
}

Step Packer::Consume(Piece& p) {
  const SourceFile& file = files_[p.file];
  zip::Entry& e = current_.entry;
  auto readError = [&] {
    reporter_.Message(kErrFileRead, "Datei " + Quoted(WideToAnsi(file.path)) +
                                        " kann nicht gelesen werden: " + ErrorText(p.error));
    return reporter_.Stopped() ? Step::kStopped : Step::kGoOn;
  };
  if (p.first) {
    if (p.error) return readError();
    if (p.grew) {
      reporter_.Message(kErrFileSkipped, "Datei " + Quoted(WideToAnsi(file.path)) +
                                             " hat sich beim Packen stark vergrößert und wird nicht gepackt");
      return reporter_.Stopped() ? Step::kStopped : Step::kGoOn;
    }
    if (!p.begun && Begin(p) != Step::kGoOn) return Step::kStopped;
  }
  if (p.error) {
    output_->Truncate(e.localOffset);
    current_.open = false;
    return readError();
  }
  if (p.failure) {
    reporter_.Message(kErrArchiveWrite,
                      "Archiv " + ArchiveText() + " kann nicht geschrieben werden: " + p.failure);
    return Step::kFailed;
  }
  if (p.reused) return CopyReused(p);
  const bool stored = level_ == 0 || p.stored;
  const std::string_view data = stored ? std::string_view(p.input) : p.whole ? p.wholeOutput : p.output;
  output_->Append(data);
  if (output_->Failed()) {
    reporter_.Message(kErrArchiveWrite, WriteError(output_->Error()));
    return Step::kFailed;
  }
  e.crc = p.first ? p.crc : zip::CombineCrc32(e.crc, p.crc, p.inputLength);
  if (!stored) e.writtenCrc = p.first ? p.outputCrc : zip::CombineCrc32(*e.writtenCrc, p.outputCrc, data.size());
  e.uncompressedSize += p.inputLength;
  e.compressedSize += data.size();
  if (!reporter_.Progress(e.uncompressedSize)) return Step::kStopped;
  if (!p.last) return Step::kGoOn;

  current_.open = false;
  e.method = stored ? zip::kMethodStored : zip::kMethodDeflated;
  if (!zip::FitsLocalHeader(e, current_.zip64Local)) {
    output_->Truncate(e.localOffset);
    reporter_.Message(kErrFileSkipped, "Datei " + Quoted(WideToAnsi(file.path)) +
                                           " ist beim Packen auf 4 GiB oder mehr gewachsen und wird nicht gepackt");
    return reporter_.Stopped() ? Step::kStopped : Step::kGoOn;
  }
  output_->Patch(e.localOffset, zip::LocalHeader(e, current_.zip64Local));
  entries_.push_back(e);
  ++packed_;
  return Step::kGoOn;
}

bool Packer::TakeListed(bool wait) {
  const size_t had = files_.size();
  while (!listed_) {
    listed_ = !feed_->Take(&files_, reporter_, wait ? reporter_.PaceLeftMs() : 0);
    if (reporter_.Stopped()) return false;
    if (!wait || files_.size() > had) break;
    // A folder that takes long to read: the caller still hears from the engine.
    if (reporter_.PaceLeftMs() <= 1 && !reporter_.Tick()) return false;
  }
  return true;
}

Step Packer::PackFiles() {
  PieceReader reader(files_, base_, buffers_, reference_.get(), request_.keepDirs, settledBefore_);
  while (true) {
    if (!TakeListed(false)) return Step::kStopped;
    // A whole file larger than what is left of the limit waits until the queue is
    // empty: whole files of several MiB never add up beyond the memory bound. This
    // thread reads a large file's pieces itself: a few at a turn, so that the caller
    // hears from it in between.
    size_t readAhead = 0;
    while (queue_.size() < kMaxInFlightPieces && readAhead < kReadAheadBytes &&
           (queue_.empty() || inFlight_ + reader.NextBytes() <= kMaxInFlightBytes)) {
      auto piece = reader.Next();
      if (!piece) break;
      Piece* raw = piece.get();
      inFlight_ += raw->accounted;
      if (!raw->whole) readAhead += raw->inputLength;
      queue_.push_back(std::move(piece));
      raw->read = !raw->whole || raw->reused;
      if (raw->error || raw->reused) {
        raw->done = true;
      } else {
        pool_->Submit([this, raw] { Work(*raw); });
      }
    }
    if (queue_.empty()) {
      // Every file listed so far is packed.
      if (listed_) return Step::kGoOn;
      if (!TakeListed(true)) return Step::kStopped;
      continue;
    }
    Piece& p = *queue_.front();
    // Stopped while a worker is still at the piece: it goes with the queue later.
    if (Await(p, *queue_[queue_.size() / 2]) != Step::kGoOn) return Step::kStopped;
    inFlight_ -= p.accounted;
    const Step step = Consume(p);
    buffers_.Give(p.input);
    buffers_.Give(p.output);
    queue_.pop_front();
    if (step != Step::kGoOn) return step;
  }
}

void Packer::DamageForTest(uint64_t offset) {
  char byte = 0;
  size_t got = 0;
  DWORD error = 0;
  tempFile_.ReadAt(offset, &byte, 1, &got, &error);
  byte = static_cast<char>(byte ^ 0x55);
  tempFile_.WriteAt(offset, &byte, 1, &error);
}

int32_t Packer::Finish(const std::wstring& target) {
  if (reporter_.Stopped()) check_.reset();  // see below
  const uint64_t cdOffset = output_->Position();
  output_->BeginDirectory();
  for (const auto& e : entries_) output_->Append(zip::CentralHeader(e));
  const uint64_t cdSize = output_->Position() - cdOffset;
  output_->Append(zip::EndRecords(entries_.size(), cdOffset, cdSize));
  DWORD error = 0;
  if (!output_->Finish()) return Fail(kErrArchiveWrite, WriteError(output_->Error()));
  output_.reset();
  if (cdOffset > 0 && TestFaultMet(kDamagedWhenWritten)) DamageForTest(cdOffset - 1);
  // The data go out to the disk while the check reads what is left from the cache;
  // both are done before the archive replaces anything.
  std::future<DWORD> flushed = std::async(std::launch::async, [this] {
    DWORD flushError = 0;
    return tempFile_.Flush(&flushError) ? DWORD{0} : (flushError ? flushError : DWORD{ERROR_WRITE_FAULT});
  });
  buffers_.Clear();  // the read-back check brings buffers of its own
  // The check is announced like a file, so that the window shows what takes the
  // time and a cancel reaches it; its steps start from what it checked while the
  // files were packed. After a stop (the archive of the files packed so far) the
  // caller has been told nothing more and waits for the call to return: the check
  // stops, and only the directory is read back, which takes no time worth a report,
  // rather than the rest of the entries' data for a time that grows with the archive.
  // A damaged entry in it is still found by its CRC-32 when it is extracted.
  std::string problem;
  if (reporter_.Stopped()) {
    problem = VerifyDirectory(temp_, entries_);
  } else {
    check_->Ended(entries_, cdOffset);
    uint64_t total = 0;
    for (const auto& e : entries_) total += e.uncompressedSize;
    if (!reporter_.FileBegins(kCheckLabel, total)) return kResultCancelled;
    bool stopped = false;
    // The last eighth of the steps is held back for the wait on the disk, if any.
    const uint64_t held = total - total / 8;
    problem = check_->Outcome(
        [this, held](uint64_t done) {
          // Nothing new for a while (the workers wait for the processor): a step of
          // what is held back, so that the caller can answer a click.
          return reporter_.Progress(std::min(done, held)) &&
                 (reporter_.PaceLeftMs() > 1 || reporter_.PacedProgress(held));
        },
        &stopped);
    check_.reset();
    if (stopped) return kResultCancelled;  // the unchecked archive goes with the temporary file
    while (flushed.wait_for(std::chrono::milliseconds(kReportPaceMs)) != std::future_status::ready)
      if (!reporter_.PacedProgress(total)) return kResultCancelled;
    if (!reporter_.Progress(total)) return kResultCancelled;
  }
  LogStage("verified");
  error = flushed.get();
  tempFile_.Close();
  if (error) return Fail(kErrArchiveWrite, WriteError(error));
  // Data taken over from the earlier archive that fail the check: packed again from the files.
  if (!problem.empty() && reused_ > 0 && !reporter_.Stopped()) return kRedo;
  if (!problem.empty()) {
    return Fail(kErrVerify, "Das geschriebene Archiv " + ArchiveText() +
                                " ist fehlerhaft und ersetzt das vorhandene nicht: " + problem);
  }
  if (!MoveOver(temp_, target, /*replace=*/true, &error)) {
    return Fail(kErrArchiveWrite, "Archiv " + Quoted(WideToAnsi(target)) +
                                      " kann nicht ersetzt werden: " + ErrorText(error));
  }
  tempExists_ = false;
  return 0;
}

int32_t Packer::Run() {
  // A temporary file left by a run that was killed.
  if (FileExists(temp_)) DeleteFileAt(temp_);

  CollectOptions options;
  options.recurse = request_.recurse;
  options.keepDirs = request_.keepDirs;
  options.base = base_;
  options.excluded = {archive_, temp_, part_};
  for (const std::wstring& path : request_.excluded) options.excluded.push_back(FullPath(path));
  // A file still being written is never taken by a listing before it is done.
  for (size_t i = 0; i < request_.awaited.size() && i < request_.specs.size(); ++i)
    if (request_.awaited[i]) options.excluded.push_back(FullPath(request_.specs[i]));
  options.literal = request_.literal;
  options.folder = request_.folder;
  options.awaited = request_.awaited;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  settledBefore_ = FileTimeTicks(now) - kSettleTicks;
  if (TestFaultMet(kFreshFilesSettled)) settledBefore_ = ~uint64_t{0};
  LogStage("engine");
  feed_ = std::make_unique<FileFeed>(request_.specs, std::move(options));
  // The archive is written once the first file is known; an archive added to needs
  // the whole list, for the entries it keeps.
  const bool addingTo = FileExists(archive_);
  for (bool going = true; going && !listed_ && (files_.empty() || addingTo);) going = TakeListed(true);
  if (files_.empty() && !reporter_.Stopped()) {
    reporter_.BatchEnd();
    return 0;
  }

  std::vector<zip::Entry> kept;
  if (addingTo && !ReadExistingArchive(&kept)) return kResultFailed;
  const int32_t result = Write(kept, /*reuse=*/true);
  return result == kRedo ? Write(kept, /*reuse=*/false) : result;
}

int32_t Packer::Write(std::vector<zip::Entry>& kept, bool reuse) {
  entries_.clear();
  packed_ = reused_ = 0;
  current_ = Current{};
  inFlight_ = 0;
  abort_ = false;
  output_.reset();
  check_.reset();
  tempFile_.Close();  // an attempt before this one may have left it open
  DWORD error = 0;
  tempFile_ = File::Create(temp_, CREATE_ALWAYS, &error);
  if (!tempFile_.IsOpen()) return Fail(kErrArchiveWrite, WriteError(error));
  tempExists_ = true;
  check_ = std::make_unique<ReadBackCheck>(temp_);
  output_ = std::make_unique<PackOutput>(tempFile_);
  // Each entry is checked as soon as the file holds it.
  output_->OnWritten([this](uint64_t extent) {
    if (entries_.size() > 1 && extent >= entries_[1].localOffset && TestFaultMet(kDamagedWhileWritten))
      DamageForTest(entries_[1].localOffset - 1);
    if (check_) check_->Written(entries_, extent);
  });
  if (!CopyKept(kept)) return kResultFailed;

  // Compressing to store nothing takes over nothing either.
  if (reuse && !request_.reference.empty() && level_ > 0) {
    reference_ = std::make_unique<Reference>(FullPath(request_.reference));
    if (reference_->Empty()) reference_.reset();
    LogStage("reference");
  }
  pool_ = std::make_unique<zip::WorkerPool>();
  const Step step = reporter_.Stopped() ? Step::kStopped : PackFiles();
  LogStage("packed");
  abort_ = true;
  pool_.reset();  // the pieces still queued are dropped
  queue_.clear();
  reference_.reset();
  pool_ = std::make_unique<zip::WorkerPool>();
  if (step == Step::kRedo) return kRedo;
  if (step == Step::kFailed) {
    if (!reporter_.Stopped()) reporter_.BatchEnd();
    return kResultFailed;
  }
  if (current_.open) output_->Truncate(current_.entry.localOffset);

  if (step == Step::kStopped) {
    // Cancelled: what is complete becomes "<archive>.vkpart"; the caller decides.
    return Finish(part_) == 0 ? kResultCancelled : kResultFailed;
  }
  if (packed_ == 0) {
    reporter_.BatchEnd();
    return kResultFailed;  // every file failed and was reported
  }
  const int32_t result = Finish(archive_);
  if (result != 0) return result;
  reporter_.BatchEnd();
  return packed_;
}

}  // namespace

int32_t Pack(const PackRequest& request, Reporter& reporter) {
  Packer packer(request, reporter);
  return packer.Run();
}

}  // namespace vk::engine
