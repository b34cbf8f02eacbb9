#pragma once
// TZipArchiver: the archive component. It packs and extracts nothing itself; it fills
// the command record of "VKZIP.DLL" or "VKUNZIP.DLL", turns the engine's callbacks into
// its events, and reads the local file headers of an archive into DirEntries.
// Everything runs on the user-interface thread.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "zipengine/engine_abi.h"

namespace vk::backup {

enum class ProgressType { ptFileStart = 0, ptFileStep = 1, ptBatchEnd = 2 };

enum AddOptsEnum {
  AddDirNames = 0,
  AddRecurseDirs = 1,
  AddMove = 2,
  AddFreshen = 3,
  AddUpdate = 4,
  AddZipTime = 5,
  AddForceDOS = 6
};
enum ExtrOptsEnum { ExtrDirNames = 0, ExtrOverWrite = 1, ExtrFreshen = 2, ExtrUpdate = 3 };

// A set of options kept in one byte: bit n is member n.
template <class E>
class OptionSet {
 public:
  OptionSet() = default;
  OptionSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  bool Has(E m) const { return (bits_ >> static_cast<int>(m)) & 1u; }
  void Include(E m) { bits_ = static_cast<uint8_t>(bits_ | (1u << static_cast<int>(m))); }
  void Exclude(E m) { bits_ = static_cast<uint8_t>(bits_ & ~(1u << static_cast<int>(m))); }
  bool Empty() const { return bits_ == 0; }
  uint8_t Bits() const { return bits_; }
  bool operator==(const OptionSet& o) const { return bits_ == o.bits_; }
  bool operator!=(const OptionSet& o) const { return bits_ != o.bits_; }

 private:
  uint8_t bits_ = 0;
};
using AddOpts = OptionSet<AddOptsEnum>;
using ExtrOpts = OptionSet<ExtrOptsEnum>;

// The 26 bytes of a local file header that follow its signature, and the name.
struct ZipDirEntry {
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint16_t modDate = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  std::string name;
  // The real sizes: the header's, or the zip64 extra field's where the header holds
  // 0xFFFFFFFF.
  uint64_t compressedSize64 = 0;
  uint64_t uncompressedSize64 = 0;
};

// A name as the engines take it in a specification: ANSI when the code page spells it
// exactly (no best-fit letter, no "?"), otherwise marked UTF-8, which the engines never
// read as a pattern. An ANSI name that happens to begin with the mark's bytes goes as
// UTF-8 too, so that it cannot be mistaken for one.
std::string EngineSpec(const std::wstring& name);

class TZipArchiver {
 public:
  // The engines' entries. The program binds them at load time; tests may put
  // recording fakes here.
  using ZipEntry = int32_t(VK_STDCALL*)(engine::ZipCommand*);
  using UnzipEntry = int32_t(VK_STDCALL*)(engine::UnzipCommand*);
  static ZipEntry zipEntry;
  static UnzipEntry unzipEntry;

  // How many specification slots a record has before it must be lengthened
  // (4,097). Tests shrink it so that the longer record is built for a few names.
  static void SetSpecSlotLimit(int slots);
  static int SpecSlotLimit();

  TZipArchiver() = default;
  ~TZipArchiver() = default;
  TZipArchiver(const TZipArchiver&) = delete;
  TZipArchiver& operator=(const TZipArchiver&) = delete;

  bool Verbose = false;
  bool Trace = false;
  int AddCompLevel = 9;
  AddOpts AddOptions;
  std::string ExtrBaseDir;
  ExtrOpts ExtrOptions;
  // The specifications for the next Add or Extract; every call that runs empties it.
  std::vector<std::string> FSpecArgs;
  // Set by the owner to stop the running call; answered on the engine's next callback.
  bool Cancel = false;

  std::function<void()> OnDirUpdate;
  std::function<void(ProgressType type, const std::string& fileName, int fileSize)> OnProgress;
  std::function<void(int errCode, const std::string& message)> OnMessage;

  const std::string& ZipFilename() const { return zipFilename_; }
  // Stores the name and reads the archive's directory (raises vk::EZipDirError).
  void SetZipFilename(const std::string& name);

  // Packs FSpecArgs into ZipFilename through "VKZIP.DLL".
  void Add();
  // Extracts FSpecArgs (all entries when empty) from ZipFilename through "VKUNZIP.DLL".
  void Extract();

  bool ZipBusy() const { return zipBusy_; }
  bool UnzipBusy() const { return unzipBusy_; }
  int32_t DllResult() const { return dllResult_; }
  // True when the last Add or Extract that ran ended in "Fatal DLL Error" (DllResult
  // then still holds the value of the call before).
  bool Aborted() const { return aborted_; }
  const std::vector<ZipDirEntry>& DirEntries() const { return dirEntries_; }

  // Reads the local file headers of ZipFilename; OnDirUpdate fires when it got to
  // the central directory. A damaged archive raises vk::EZipDirError.
  void ReadZipDir();

  static int32_t VK_STDCALL ZipCallback(engine::CallbackInfo* info);

 private:
  int32_t Callback(engine::CallbackInfo* info);
  // Calls an engine entry; a fault shows the fatal box, then the call's clean-up.
  template <class Command>
  void CallEngine(int32_t(VK_STDCALL* entry)(Command*), Command* command, const char* library);

  std::string zipFilename_;
  std::vector<ZipDirEntry> dirEntries_;
  bool zipBusy_ = false;
  bool unzipBusy_ = false;
  int32_t dllResult_ = 0;
  // An event handler threw inside a callback: the engine was told to stop.
  bool handlerFailed_ = false;
  bool aborted_ = false;
};

}  // namespace vk::backup
