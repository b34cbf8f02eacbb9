#include "zipengine/zip/packer.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "core/errors.h"
#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "core/zip_names.h"
#include "core/zip_workers.h"
#include "zipengine/common/verify.h"
#include "zipengine/common/test_fault.h"
#include "zipengine/common/win_fs.h"

namespace vk::engine {

namespace {

// A piece is what one worker compresses at a time; the limits keep memory bounded
// whatever the file sizes, while giving every worker enough to do. The bytes in
// flight count a piece's input and, as much again, its output.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kMaxInFlightBytes = 16 << 20;
constexpr size_t kMaxInFlightPieces = 64;
constexpr size_t kCopyBuffer = 1 << 20;
// A file listed up to this size is read whole by a worker and compressed in one go,
// so that opening the many small files overlaps too; larger files go in pieces,
// which the workers compress side by side within the memory bound.
constexpr size_t kWholeFile = 2 << 20;
// A whole file that has grown beyond this meanwhile is reported and left out.
constexpr size_t kWholeFileLimit = kWholeFile + kPieceSize;
constexpr uint32_t kDosAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// A file that another program holds open without sharing (the host writes its
// files while it runs) is tried again for about two seconds before it counts as
// unreadable.
constexpr int kOpenAttempts = 9;
constexpr DWORD kOpenRetryWait = 250;

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

struct Piece {
  size_t file = 0;
  bool first = false;
  bool last = false;
  bool whole = false;     // a small file, read by the worker
  size_t accounted = 0;   // counted against the in-flight limit
  DWORD error = 0;  // the file could not be opened (first) or read
  uint64_t fileSize = 0;
  zip::DosDateTime modified;
  uint32_t attributes = 0;
  std::string input;
  size_t inputLength = 0;
  // Filled by the worker: a whole file's output in a buffer of its own, of which
  // only the part the data fill is ever touched.
  std::string output;
  std::unique_ptr<char[]> wholeBuffer;
  std::string_view wholeOutput;
  uint32_t crc = 0;
  bool stored = false;  // a whole file that deflate does not shrink
  bool grew = false;    // a whole file beyond kWholeFileLimit
  const char* failure = nullptr;  // why the work could not be done
  // The data are in memory: from the start, or for a whole file once its worker
  // has read it; the file can then be announced while it is compressed.
  bool read = false;
  bool begun = false;  // the file was announced
  bool done = false;
  // The calling thread waits for this piece: only then is it woken (under Wine
  // every wake-up is a server call), not for every piece that finishes.
  bool awaited = false;
};

// Piece-sized buffers handed round instead of freed: under Wine a block this
// large is mapped and unmapped each time, and every fresh page faults.
class BufferPool {
 public:
  // Frees the spares once no piece needs them any more.
  void Clear() {
    std::lock_guard<zip::Mutex> lock(mutex_);
    spare_.clear();
  }
  std::string Take() {
    std::lock_guard<zip::Mutex> lock(mutex_);
    if (spare_.empty()) return {};
    std::string b = std::move(spare_.back());
    spare_.pop_back();
    b.clear();
    return b;
  }
  // Leaves b empty.
  void Give(std::string& b) {
    // Whole files' larger buffers are freed: kept, they would hold memory for good.
    if (b.capacity() >= kPieceSize / 2 && b.capacity() <= kPieceSize + kPieceSize / 4) {
      std::lock_guard<zip::Mutex> lock(mutex_);
      if (spare_.size() < kMaxSpare) spare_.push_back(std::move(b));
    }
    std::string().swap(b);
  }

 private:
  static constexpr size_t kMaxSpare = 2;
  zip::Mutex mutex_;
  std::vector<std::string> spare_;
};

// The archive being written, buffered; what was written can be patched (the local
// header, once the sizes are known) or dropped again (a file that failed midway).
class Output {
 public:
  explicit Output(File& file) : file_(file) { buffer_.reserve(kBuffer); }

  void Append(std::string_view data) {
    if (buffer_.size() + data.size() > kBuffer) FlushBuffer();
    if (data.size() >= kBuffer) {
      Write(base_, data);
      base_ += data.size();
    } else {
      buffer_.append(data);
    }
  }

  void Patch(uint64_t offset, std::string_view data) {
    if (offset >= base_ && offset + data.size() <= Position()) {
      std::copy(data.begin(), data.end(), buffer_.begin() + static_cast<ptrdiff_t>(offset - base_));
      return;
    }
    if (offset + data.size() > base_) FlushBuffer();
    Write(offset, data);
  }

  void Truncate(uint64_t offset) {
    if (offset >= base_) {
      buffer_.resize(static_cast<size_t>(offset - base_));
    } else {
      buffer_.clear();
      base_ = offset;
    }
  }

  // From here on the central directory is written: the file data go out first.
  void BeginDirectory() {
    FlushBuffer();
    directory_ = true;
  }

  // Writes what is buffered and cuts the file where the archive ends.
  bool Finish() {
    FlushBuffer();
    if (!failed_ && !file_.SetSize(base_, &error_)) failed_ = true;
    return !failed_;
  }

  uint64_t Position() const { return base_ + buffer_.size(); }
  bool Failed() const { return failed_; }
  DWORD Error() const { return error_; }

 private:
  static constexpr size_t kBuffer = 1 << 20;

  void FlushBuffer() {
    if (buffer_.empty()) return;
    Write(base_, buffer_);
    base_ += buffer_.size();
    buffer_.clear();
  }

  void Write(uint64_t offset, std::string_view data) {
    if (!failed_ && TestFaultMet(directory_ ? kDiskFullInDirectory : kDiskFullInData)) {
      error_ = ERROR_DISK_FULL;
      failed_ = true;
    }
    if (!failed_ && !file_.WriteAt(offset, data.data(), data.size(), &error_)) failed_ = true;
  }

  File& file_;
  uint64_t base_ = 0;
  std::string buffer_;
  DWORD error_ = 0;
  bool failed_ = false;
  bool directory_ = false;
};

// Reads the files in order, one piece at a time, on the calling thread.
class Reader {
 public:
  Reader(const std::vector<SourceFile>& files, const std::wstring& base, BufferPool& buffers)
      : files_(files), base_(base), buffers_(buffers) {}

  // The bytes the next piece brings into memory, its output included (a whole
  // file's listed size twice).
  size_t NextBytes() const {
    if (file_.IsOpen() || index_ >= files_.size() || files_[index_].size > kWholeFile) return 2 * kPieceSize;
    return 2 * static_cast<size_t>(files_[index_].size);
  }

  std::unique_ptr<Piece> Next() {
    auto p = std::make_unique<Piece>();
    if (!file_.IsOpen()) {
      if (index_ >= files_.size()) return nullptr;
      p->first = true;
      const SourceFile& listed = files_[index_];
      if (listed.size <= kWholeFile) {
        p->whole = p->last = true;
        p->file = index_++;
        p->accounted = 2 * static_cast<size_t>(listed.size);
        p->modified = FileTimeToDos(listed.modified);
        p->attributes = listed.attributes & kDosAttributes;
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

 private:
  std::unique_ptr<Piece> Failed(std::unique_ptr<Piece> p, DWORD error) {
    p->file = index_++;
    p->error = error ? error : ERROR_READ_FAULT;
    p->last = true;
    p->input.clear();
    p->inputLength = 0;
    file_.Close();
    return p;
  }

  const std::vector<SourceFile>& files_;
  const std::wstring& base_;
  BufferPool& buffers_;
  size_t index_ = 0;
  File file_;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
  std::string carry_;
};

enum class Step { kGoOn, kStopped, kFailed };

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
    output_.reset();
    tempFile_.Close();
    if (tempExists_) DeleteFileAt(temp_);
  }

  int32_t Run();

 private:
  bool ReadExistingArchive(File* old, std::vector<zip::Entry>* kept);
  bool CopyKept(File& old, std::vector<zip::Entry>& kept);
  Step PackFiles();
  Step Await(Piece& p, Piece& later);
  Step Begin(Piece& p);
  Step Consume(Piece& p);
  void Work(Piece& p);
  void ReadWhole(Piece& p);
  void Compress(Piece& p);
  int32_t Finish(const std::wstring& target);
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
  std::vector<SourceFile> files_;
  std::vector<zip::Entry> entries_;
  int32_t packed_ = 0;

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
  zip::Mutex compressorsMutex_;
  std::vector<std::unique_ptr<zip::PieceCompressor>> compressors_;

  File tempFile_;
  bool tempExists_ = false;
  std::unique_ptr<Output> output_;
  std::unique_ptr<zip::WorkerPool> pool_;  // last: goes first
};

int32_t Packer::Fail(int32_t code, const std::string& text) {
  reporter_.Message(code, text);
  if (!reporter_.Stopped()) reporter_.BatchEnd();
  return kResultFailed;
}

bool Packer::ReadExistingArchive(File* old, std::vector<zip::Entry>* kept) {
  DWORD error = 0;
  *old = File::OpenRead(archive_, &error);
  if (!old->IsOpen()) {
    Fail(kErrArchiveRead, "Das vorhandene Archiv " + ArchiveText() + " kann nicht gelesen werden: " +
                              ErrorText(error));
    return false;
  }
  FileAccess access(*old);
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
    const std::u16string name =
        zip::SlashesToForward(zip::DecodeEntryName(e, oem).value_or(zip::DecodeOem(e.name, oem)));
    if (replaced.count(zip::FoldCase(name))) continue;
    const bool supported = (e.method == zip::kMethodStored || e.method == zip::kMethodDeflated) &&
                           !(e.flags & (zip::kFlagEncrypted | zip::kFlagStrongEncryption));
    if (!supported || !zip::LocateData(access, &e)) {
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

bool Packer::CopyKept(File& old, std::vector<zip::Entry>& kept) {
  std::string buffer;
  for (auto& e : kept) {
    const uint64_t from = e.dataOffset;
    e.extra.clear();
    e.localOffset = output_->Position();
    const bool zip64Local = !zip::FitsLocalHeader(e, false);
    output_->Append(zip::LocalHeader(e, zip64Local));
    for (uint64_t done = 0; done < e.compressedSize;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyBuffer, e.compressedSize - done));
      buffer.resize(n);
      if (!old.ReadExactly(from + done, buffer.data(), n)) {
        Fail(kErrArchiveRead, "Das vorhandene Archiv " + ArchiveText() + " kann nicht gelesen werden");
        return false;
      }
      output_->Append(buffer);
      done += n;
    }
    if (output_->Failed()) {
      Fail(kErrArchiveWrite, WriteError(output_->Error()));
      return false;
    }
    entries_.push_back(e);
  }
  return true;
}

void Packer::ReadWhole(Piece& p) {
  File file = OpenSource(SourcePath(base_, files_[p.file].path), &p.error);
  if (!file.IsOpen()) return;
  std::string& in = p.input;
  in.resize(static_cast<size_t>(files_[p.file].size) + 1);
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

void Packer::Work(Piece& p) {
  if (!abort_) {
    try {
      TestFaultPoint();
      if (p.whole) {
        ReadWhole(p);
        auto lock = signal_.Lock();
        p.read = true;
        if (p.awaited) signal_.Notify();
      }
      if (!p.error && !p.grew) Compress(p);
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

void Packer::Compress(Piece& p) {
  if (p.input.size() >= kPieceSize && TestFaultMet(kCompressionHeld)) {
    for (int wait = 0; wait < 3000 && !abort_; ++wait) Sleep(10);
    if (abort_) return;
    throw std::runtime_error("held");
  }
  p.crc = zip::Crc32(0, p.input.data(), p.input.size());
  if (level_ == 0) return;
  std::unique_ptr<zip::PieceCompressor> compressor;
  {
    std::lock_guard<zip::Mutex> lock(compressorsMutex_);
    if (!compressors_.empty()) {
      compressor = std::move(compressors_.back());
      compressors_.pop_back();
    }
  }
  if (!compressor) compressor = std::make_unique<zip::PieceCompressor>(level_);
  if (p.whole) {
    p.wholeOutput = compressor->CompressWhole(p.input, &p.wholeBuffer);
  } else {
    if (p.input.size() >= kPieceSize / 2) p.output = buffers_.Take();
    compressor->Compress(p.input, p.last, &p.output);
  }
  {
    std::lock_guard<zip::Mutex> lock(compressorsMutex_);
    compressors_.push_back(std::move(compressor));
  }
  if (p.first && p.last && std::max(p.output.size(), p.wholeOutput.size()) >= p.input.size()) {
    p.stored = true;
    buffers_.Give(p.output);
    p.wholeBuffer.reset();
    p.wholeOutput = {};
  } else {
    buffers_.Give(p.input);
  }
}

Step Packer::Begin(Piece& p) {
  const SourceFile& file = files_[p.file];
  zip::Entry& e = current_.entry;
  current_ = Current{};
  const std::u16string name = ArchiveName(file.path, request_.keepDirs);
  zip::SetNameAndAttributes(&e, name, p.attributes);
  e.modified = p.modified;
  e.localOffset = output_->Position();
  current_.zip64Local = zip::NeedsZip64Local(p.fileSize);
  current_.open = true;
  p.begun = true;
  output_->Append(zip::LocalHeader(e, current_.zip64Local));
  return reporter_.FileBegins(WideToAnsi(FromU16(name)), p.fileSize) ? Step::kGoOn : Step::kStopped;
}

// Waits until the front piece is done, woken once for several pieces: when it and
// the one halfway down the queue are both done, so that the workers still have
// the rest. Meanwhile the caller hears from the engine every kReportPaceMs: the
// file is announced as soon as its data are read, and its steps are handed out
// paced, short of the last one.
Step Packer::Await(Piece& p, Piece& later) {
  while (true) {
    bool announce, pace;
    {
      auto lock = signal_.Lock();
      // A file that failed to be read is reported once its piece is done.
      const auto announceable = [&] { return p.first && p.read && !p.begun && !p.error && !p.grew; };
      if (p.done) return Step::kGoOn;
      p.awaited = later.awaited = true;
      signal_.WaitFor(lock, kReportPaceMs, [&] { return (p.done && later.done) || announceable(); });
      if (p.done) return Step::kGoOn;
      announce = announceable();
      pace = p.read && (!p.first || p.begun);
    }
    if (announce) {
      if (Begin(p) != Step::kGoOn) return Step::kStopped;
      continue;
    }
    if (!pace) continue;
    // A piece's steps can all be given beforehand; a file's last one waits for it.
    const uint64_t end = current_.entry.uncompressedSize + p.inputLength;
    if (!reporter_.PacedProgress(p.last ? end - std::min<uint64_t>(end, kProgressStepBytes) : end))
      return Step::kStopped;
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
  const bool stored = level_ == 0 || p.stored;
  const std::string_view data = stored ? std::string_view(p.input) : p.whole ? p.wholeOutput : p.output;
  output_->Append(data);
  if (output_->Failed()) {
    reporter_.Message(kErrArchiveWrite, WriteError(output_->Error()));
    return Step::kFailed;
  }
  e.crc = p.first ? p.crc : zip::CombineCrc32(e.crc, p.crc, p.inputLength);
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

Step Packer::PackFiles() {
  Reader reader(files_, base_, buffers_);
  bool readerDone = false;
  while (true) {
    // A whole file larger than what is left of the limit waits until the queue is
    // empty: whole files of several MiB never add up beyond the memory bound.
    while (!readerDone && queue_.size() < kMaxInFlightPieces &&
           (queue_.empty() || inFlight_ + reader.NextBytes() <= kMaxInFlightBytes)) {
      auto piece = reader.Next();
      if (!piece) {
        readerDone = true;
        break;
      }
      Piece* raw = piece.get();
      inFlight_ += raw->accounted;
      queue_.push_back(std::move(piece));
      raw->read = !raw->whole;
      if (raw->error) {
        raw->done = true;
      } else {
        pool_->Submit([this, raw] { Work(*raw); });
      }
    }
    if (queue_.empty()) return Step::kGoOn;
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

int32_t Packer::Finish(const std::wstring& target) {
  const uint64_t cdOffset = output_->Position();
  output_->BeginDirectory();
  for (const auto& e : entries_) output_->Append(zip::CentralHeader(e));
  const uint64_t cdSize = output_->Position() - cdOffset;
  output_->Append(zip::EndRecords(entries_.size(), cdOffset, cdSize));
  DWORD error = 0;
  if (!output_->Finish()) return Fail(kErrArchiveWrite, WriteError(output_->Error()));
  if (!tempFile_.Flush(&error)) return Fail(kErrArchiveWrite, WriteError(error));
  output_.reset();
  if (TestFaultMet(kDamagedWhenWritten) && cdOffset > 0) {
    char byte = 0;
    size_t got = 0;
    tempFile_.ReadAt(cdOffset - 1, &byte, 1, &got, &error);
    byte = static_cast<char>(byte ^ 0x55);
    tempFile_.WriteAt(cdOffset - 1, &byte, 1, &error);
  }
  tempFile_.Close();
  buffers_.Clear();  // the read-back check brings buffers of its own
  // The check is announced like a file, so that the window shows what takes the
  // time and a cancel reaches it. After a stop (the archive of the files packed
  // so far) it runs unannounced, since the caller has been told nothing more.
  std::function<bool(uint64_t)> progress;
  if (!reporter_.Stopped()) {
    uint64_t total = 0;
    for (const auto& e : entries_) total += e.uncompressedSize;
    if (!reporter_.FileBegins(kCheckLabel, total)) return kResultCancelled;
    progress = [this](uint64_t done) { return reporter_.Progress(done); };
  }
  bool stopped = false;
  const std::string problem = VerifyArchive(temp_, entries_, *pool_, progress, &stopped);
  if (stopped) return kResultCancelled;  // the unchecked archive goes with the temporary file
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
  options.literal = request_.literal;
  files_ = CollectFiles(request_.specs, options, reporter_);
  if (files_.empty() && !reporter_.Stopped()) {
    reporter_.BatchEnd();
    return 0;
  }

  File old;
  std::vector<zip::Entry> kept;
  if (FileExists(archive_) && !ReadExistingArchive(&old, &kept)) return kResultFailed;

  DWORD error = 0;
  tempFile_ = File::Create(temp_, CREATE_ALWAYS, &error);
  if (!tempFile_.IsOpen()) return Fail(kErrArchiveWrite, WriteError(error));
  tempExists_ = true;
  output_ = std::make_unique<Output>(tempFile_);
  if (!CopyKept(old, kept)) return kResultFailed;
  old.Close();

  pool_ = std::make_unique<zip::WorkerPool>();
  const Step step = reporter_.Stopped() ? Step::kStopped : PackFiles();
  abort_ = true;
  pool_.reset();  // the pieces still queued are dropped
  queue_.clear();
  pool_ = std::make_unique<zip::WorkerPool>();
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
