#include "backup/zip_archiver.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/errors.h"
#include "core/fault_guard.h"
#include "win/handles.h"
#include "win/msgbox.h"

namespace vk::backup {

TZipArchiver::ZipEntry TZipArchiver::zipEntry = &VkZipExecute;
TZipArchiver::UnzipEntry TZipArchiver::unzipEntry = &VkUnzipExecute;

namespace {

int g_specSlotLimit = engine::kSpecSlots;

constexpr uint32_t kLocalHeader = 0x04034B50;
constexpr uint32_t kCentralHeader = 0x02014B50;
constexpr uint32_t kEndOfCentralDir = 0x06054B50;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;

int32_t Flag(bool on) { return on ? engine::kTrue : engine::kFalse; }

// A command record with room for `slots` specification addresses: the fixed record
// when they fit in its 4,097 slots, else a longer one whose slot array goes on.
template <class Record>
class CommandRecord {
 public:
  explicit CommandRecord(size_t count) {
    size_t slots = std::max(count, static_cast<size_t>(g_specSlotLimit));
    size_t bytes = offsetof(Record, specs) + slots * sizeof(char*);
    memory_.reset(static_cast<Record*>(std::calloc(1, bytes)));
    if (!memory_) throw std::bad_alloc();
  }
  Record* operator->() const { return memory_.get(); }
  Record* Get() const { return memory_.get(); }
  // The slot array as long as it was allocated.
  char** Slots() const { return memory_->specs; }

 private:
  struct Free {
    void operator()(Record* r) const { std::free(r); }
  };
  std::unique_ptr<Record, Free> memory_;
};

// The zero-terminated texts a record points to: at least 256 bytes each, longer
// when the text needs it.
class TextBuffers {
 public:
  char* Add(const std::string& text) {
    buffers_.emplace_back(std::max<size_t>(engine::kNameBuffer, text.size() + 1), '\0');
    std::memcpy(buffers_.back().data(), text.data(), text.size());
    return buffers_.back().data();
  }

 private:
  std::vector<std::vector<char>> buffers_;
};

// Clears a flag when the scope ends, however it ends.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

bool IsDirectory(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

// A buffered read-only file that, like a stream, cannot be positioned past its end.
class ArchiveReader {
 public:
  explicit ArchiveReader(const std::string& path)
      : file_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
    LARGE_INTEGER size{};
    if (!file_ || !GetFileSizeEx(file_.Get(), &size))
      throw EFOpenError("Datei " + path + " kann nicht geöffnet werden");
    size_ = size.QuadPart;
  }

  int64_t Size() const { return size_; }
  int64_t Position() const { return position_; }

  // Reads up to n bytes; returns how many came.
  size_t Read(void* dst, size_t n) {
    auto* out = static_cast<unsigned char*>(dst);
    size_t done = 0;
    while (done < n) {
      if (bufPos_ == bufLen_ && !Fill()) break;
      size_t take = std::min(n - done, bufLen_ - bufPos_);
      std::memcpy(out + done, buffer_.data() + bufPos_, take);
      bufPos_ += take;
      done += take;
      position_ += static_cast<int64_t>(take);
    }
    return done;
  }

  // Moves on by n bytes, at most to the end of the file; returns the new position.
  int64_t Skip(uint64_t n) {
    uint64_t room = static_cast<uint64_t>(size_ - position_);
    int64_t target = position_ + static_cast<int64_t>(std::min(n, room));
    size_t inBuffer = bufLen_ - bufPos_;
    if (static_cast<uint64_t>(target - position_) <= inBuffer) {
      bufPos_ += static_cast<size_t>(target - position_);
    } else {
      bufPos_ = bufLen_ = 0;
      filePos_ = target;
    }
    position_ = target;
    return position_;
  }

 private:
  bool Fill() {
    LARGE_INTEGER at;
    at.QuadPart = filePos_;
    if (!SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN)) return false;
    DWORD got = 0;
    if (!ReadFile(file_.Get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), &got,
                  nullptr) ||
        got == 0)
      return false;
    bufPos_ = 0;
    bufLen_ = got;
    filePos_ += got;
    return true;
  }

  win::ScopedHandle file_;
  int64_t size_ = 0;
  int64_t position_ = 0;
  int64_t filePos_ = 0;  // where the next Fill reads
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(64 * 1024);
  size_t bufPos_ = 0;
  size_t bufLen_ = 0;
};

// Takes the real sizes from a zip64 extra field: the fields appear in a fixed order,
// each only where the header holds 0xFFFFFFFF.
void ApplyZip64Extra(ZipDirEntry& entry, const std::vector<unsigned char>& extra) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    uint16_t id = Le16(&extra[at]);
    uint16_t len = Le16(&extra[at + 2]);
    size_t data = at + 4;
    if (data + len > extra.size()) return;
    if (id == kZip64ExtraId) {
      size_t p = data;
      size_t end = data + len;
      if (entry.uncompressedSize == kZip64Marker && p + 8 <= end) {
        entry.uncompressedSize64 = Le64(&extra[p]);
        p += 8;
      }
      if (entry.compressedSize == kZip64Marker && p + 8 <= end) entry.compressedSize64 = Le64(&extra[p]);
      return;
    }
    at = data + len;
  }
}

}  // namespace

std::string EngineSpec(const std::wstring& name) {
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()), nullptr,
                              0, nullptr, &lossy);
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()), ansi.data(), n,
                      nullptr, &lossy);
  const std::string mark = engine::kUtf8SpecMark;
  if (!lossy && ansi.compare(0, mark.size(), mark) != 0) return ansi;
  n = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), utf8.data(), n, nullptr, nullptr);
  return mark + utf8;
}

void TZipArchiver::SetSpecSlotLimit(int slots) {
  g_specSlotLimit = slots > 0 ? slots : engine::kSpecSlots;
}

int TZipArchiver::SpecSlotLimit() { return g_specSlotLimit; }

void TZipArchiver::SetZipFilename(const std::string& name) {
  zipFilename_ = name;
  ReadZipDir();
}

template <class Command>
void TZipArchiver::CallEngine(int32_t(VK_STDCALL* entry)(Command*), Command* command, const char* library) {
  struct Call {
    int32_t(VK_STDCALL* entry)(Command*);
    Command* command;
    int32_t result = 0;
    bool threw = false;
  } call{entry, command};
  // A fault inside the library's own code ends the call as an exception does.
  const bool finished = fault::RunGuarded(
      fault::ModuleAt(GetModuleHandleA(library)),
      [](void* arg) {
        auto* c = static_cast<Call*>(arg);
        try {
          c->result = c->entry(c->command);
        } catch (...) {
          c->threw = true;
        }
      },
      &call);
  const bool fatal = !finished || call.threw;
  const int32_t result = call.result;
  aborted_ = fatal || handlerFailed_;
  if (aborted_)
    win::ShowPlain("Fatal DLL Error: abort exception");
  else
    dllResult_ = result;
  FSpecArgs.clear();
  Cancel = false;
}

void TZipArchiver::Add() {
  if (FSpecArgs.empty()) {
    win::ShowPlain("Error - no files to zip");
    return;
  }
  if (zipBusy_) return;
  if (zipFilename_.empty()) {
    win::ShowPlain("Error - no zip file specified");
    return;
  }
  {
    FlagScope busy(zipBusy_);
    Cancel = false;
    handlerFailed_ = false;

    CommandRecord<engine::ZipCommand> cmd(FSpecArgs.size());
    TextBuffers texts;
    cmd->caller = this;
    cmd->version = 110;
    cmd->callback = &TZipArchiver::ZipCallback;
    cmd->trace = Flag(Trace);
    cmd->minusOne44 = -1;
    cmd->verbose = Flag(Verbose || Trace);
    cmd->minusOne56 = -1;
    cmd->level = AddCompLevel;
    cmd->noDirNames = Flag(!AddOptions.Has(AddDirNames));
    cmd->recurseDirs = Flag(AddOptions.Has(AddRecurseDirs));
    cmd->minusOne80 = -1;
    cmd->forceDos = Flag(AddOptions.Has(AddForceDOS));
    cmd->move = Flag(AddOptions.Has(AddMove));
    cmd->update = Flag(AddOptions.Has(AddUpdate));
    cmd->freshen = Flag(AddOptions.Has(AddFreshen) && !AddOptions.Has(AddUpdate));
    cmd->zipTime = Flag(AddOptions.Has(AddZipTime));
    cmd->zipName = texts.Add(zipFilename_);
    cmd->seven = 7;
    cmd->argc = 0;
    for (const std::string& spec : FSpecArgs) cmd.Slots()[cmd->argc++] = texts.Add(spec);

    CallEngine(zipEntry, cmd.Get(), "VKZIP.DLL");
  }
  if (dllResult_ > 0) ReadZipDir();
}

void TZipArchiver::Extract() {
  if (unzipBusy_) return;
  FlagScope busy(unzipBusy_);
  Cancel = false;
  handlerFailed_ = false;
  if (!ExtrBaseDir.empty() && IsDirectory(ExtrBaseDir)) SetCurrentDirectoryA(ExtrBaseDir.c_str());

  CommandRecord<engine::UnzipCommand> cmd(FSpecArgs.size());
  TextBuffers texts;
  cmd->caller = this;
  cmd->version = 110;
  cmd->callback = &TZipArchiver::ZipCallback;
  cmd->trace = Flag(Trace);
  cmd->minusOne40 = -1;
  cmd->verbose = Flag(Verbose || Trace);
  cmd->update = Flag(ExtrOptions.Has(ExtrUpdate));
  cmd->freshen = Flag(ExtrOptions.Has(ExtrFreshen) && !ExtrOptions.Has(ExtrUpdate));
  cmd->dirNames = Flag(ExtrOptions.Has(ExtrDirNames));
  cmd->overwrite = Flag(ExtrOptions.Has(ExtrOverWrite));
  cmd->zipName = texts.Add(zipFilename_);
  cmd->seven = 7;
  cmd->argc = 0;
  for (const std::string& spec : FSpecArgs) cmd.Slots()[cmd->argc++] = texts.Add(spec);

  CallEngine(unzipEntry, cmd.Get(), "VKUNZIP.DLL");
}

int32_t VK_STDCALL TZipArchiver::ZipCallback(engine::CallbackInfo* info) {
  if (!info || !info->caller) return 0;
  return static_cast<TZipArchiver*>(info->caller)->Callback(info);
}

int32_t TZipArchiver::Callback(engine::CallbackInfo* info) {
  // No exception may cross the engine's frames: a throwing handler stops the engine,
  // and the call reports the abort once it has returned.
  try {
    std::string text(info->text, strnlen(info->text, sizeof(info->text)));
    switch (info->action) {
      case engine::kFileBegins:
        if (OnProgress) OnProgress(ProgressType::ptFileStart, text, info->fileSize);
        break;
      case engine::kProgressStep:
        if (OnProgress) OnProgress(ProgressType::ptFileStep, " ", 0);
        break;
      case engine::kBatchEnd:
        if (OnProgress) OnProgress(ProgressType::ptBatchEnd, " ", 0);
        break;
      case engine::kMessage:
        if (OnMessage) {
          // Each of the last two characters goes when it is a line break; the later
          // one first, so that the earlier keeps its place.
          const size_t length = text.size();
          for (size_t back = 1; back <= 2 && back <= length; ++back) {
            size_t i = length - back;
            if (text[i] == '\r' || text[i] == '\n') text.erase(i, 1);
          }
          OnMessage(info->errorCode, text);
        }
        break;
      default:
        break;
    }
  } catch (...) {
    handlerFailed_ = true;
    return -1;
  }
  return Cancel ? -1 : 0;
}

void TZipArchiver::ReadZipDir() {
  dirEntries_.clear();
  if (!IsFile(zipFilename_)) return;
  ArchiveReader in(zipFilename_);
  for (;;) {
    unsigned char sig[4];
    if (in.Read(sig, 4) < 4) throw EZipDirError("Error 1 reading Zip File");
    uint32_t signature = Le32(sig);
    if (signature == kCentralHeader || signature == kEndOfCentralDir) {
      if (OnDirUpdate) OnDirUpdate();
      return;
    }
    if (signature != kLocalHeader) continue;

    unsigned char h[26];
    if (in.Read(h, sizeof h) < sizeof h) throw EZipDirError("Error 2 reading Zip file");
    ZipDirEntry e;
    e.versionNeeded = Le16(h);
    e.flags = Le16(h + 2);
    e.method = Le16(h + 4);
    e.modTime = Le16(h + 6);
    e.modDate = Le16(h + 8);
    e.crc32 = Le32(h + 10);
    e.compressedSize = Le32(h + 14);
    e.uncompressedSize = Le32(h + 18);
    e.nameLength = Le16(h + 22);
    e.extraLength = Le16(h + 24);
    e.compressedSize64 = e.compressedSize;
    e.uncompressedSize64 = e.uncompressedSize;
    e.name.resize(e.nameLength);
    if (in.Read(e.name.data(), e.nameLength) < e.nameLength)
      throw EZipDirError("Error 2 reading Zip file");
    dirEntries_.push_back(e);
    ZipDirEntry& entry = dirEntries_.back();

    int64_t limit = in.Size() - 22;
    int64_t start = in.Position();
    if (start + entry.extraLength > limit) throw EZipDirError("Error 3 reading Zip file");
    if (entry.compressedSize == kZip64Marker || entry.uncompressedSize == kZip64Marker) {
      std::vector<unsigned char> extra(entry.extraLength);
      if (in.Read(extra.data(), extra.size()) < extra.size())
        throw EZipDirError("Error 4 reading Zip file");
      ApplyZip64Extra(entry, extra);
    }
    uint64_t room = static_cast<uint64_t>(limit - start - entry.extraLength);
    if (entry.compressedSize64 > room) throw EZipDirError("Error 3 reading Zip file");
    if (in.Position() == start && entry.extraLength != 0 &&
        in.Skip(entry.extraLength) != start + entry.extraLength)
      throw EZipDirError("Error 4 reading Zip file");
    int64_t dataStart = in.Position();
    if (in.Skip(entry.compressedSize64) != dataStart + static_cast<int64_t>(entry.compressedSize64))
      throw EZipDirError("Error 5 reading Zip file");
  }
}

}  // namespace vk::backup
