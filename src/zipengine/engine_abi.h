#pragma once
// The boundary between the archive component and the two engine libraries
// "VKZIP.DLL" and "VKUNZIP.DLL". Each library exports one entry at ordinal 2 that
// takes the address of a command record and returns a 32-bit result; while it works
// it calls the component back through the callback in the record. On the 32-bit
// build every field is 32 bits wide and the records have their fixed sizes.
#include <cstdint>

#ifdef _WIN32
#define VK_STDCALL __stdcall
#else
#define VK_STDCALL
#endif

namespace vk::engine {

// Flag fields: -1 (all bits set) for true, 0 for false.
constexpr int32_t kTrue = -1;
constexpr int32_t kFalse = 0;

// Slots of the fixed records. The component may hand over more specifications
// than this: it then allocates a longer record whose slot array simply goes on, and
// the engines read argc slots whatever argc is. Likewise a name or specification
// buffer is at least 256 bytes and longer when its text needs it; the engines read
// up to the terminating zero.
constexpr int kSpecSlots = 4097;
constexpr int kNameBuffer = 256;

// A specification that begins with these three bytes (the UTF-8 byte order mark)
// is UTF-8 and names exactly one file or directory: it is never read as a pattern.
// The backup run, and the restore of chosen folders, hand over this way the names
// that the ANSI code page cannot spell; every other specification is ANSI text as before.
constexpr char kUtf8SpecMark[] = "\xEF\xBB\xBF";
// A specification that begins with this byte (no file name holds it) names, in
// either form above, an earlier archive of the same files: a file whose content it
// already holds, checked, is taken over from it instead of being compressed again.
constexpr char kReferenceSpecMark[] = "\x01";
// Likewise marked: a directory whose files, not its sub-directories, are packed,
// found by one read of it (a directory that is empty or missing adds nothing, and
// is not reported); and the full path of a file that is never packed.
constexpr char kFolderSpecMark[] = "\x02";
constexpr char kExcludedSpecMark[] = "\x03";
// Likewise marked, then the decimal value of an event of the calling process and
// the mark again: a file that the caller is still writing. It is looked up once the
// event is set, and adds nothing when it is not there then (the caller knows why);
// the specifications before it are listed and packed meanwhile, and a directory
// among them that holds the file leaves it out.
constexpr char kAwaitedSpecMark[] = "\x04";
// A specification of an extraction that begins with this byte (before the UTF-8
// mark, if any) names one file that the caller has compared with its entry just
// before and found different: it is replaced without being read again.
constexpr char kDiffersSpecMark[] = "\x05";

// Callback actions. All callbacks come on the thread that called the entry, in file
// order. kBatchEnd ends every call that was not stopped, failed ones included; after
// a callback answered -1 there is no further callback, kBatchEnd neither.
enum Action : int32_t { kFileBegins = 1, kProgressStep = 2, kBatchEnd = 3, kMessage = 4 };
// One progress step is this many bytes of a file.
constexpr uint32_t kProgressStepBytes = 32768;
// Size of CallbackInfo::text, the file name or message, zero-terminated.
constexpr int kCallbackText = 4096;

struct CallbackInfo {
  int32_t unused0;
  void* caller;       // the component, handed back from the command record
  int32_t unused8;
  int32_t unused12;
  int32_t action;     // Action
  int32_t errorCode;  // kMessage
  int32_t fileSize;   // kFileBegins (low 32 bits for files of 4 GiB and more)
  char text[kCallbackText];
};

// Returns -1 to stop the engine at once, 0 to go on.
using Callback = int32_t(VK_STDCALL*)(CallbackInfo* info);

struct ZipCommand {
  int32_t zero0;
  void* caller;
  int32_t version;        // 110
  Callback callback;
  int32_t trace;
  int32_t zero20[6];
  int32_t minusOne44;
  int32_t zero48;
  int32_t verbose;
  int32_t minusOne56;
  int32_t level;          // compression level, 0 stores
  int32_t zero64[2];
  int32_t noDirNames;     // true: store names without their directories
  int32_t recurseDirs;
  int32_t minusOne80;
  int32_t forceDos;
  int32_t move;
  int32_t zero92;
  int32_t update;
  int32_t freshen;
  int32_t zero104;
  int32_t zipTime;
  int32_t zero112[2];
  int32_t argc;
  char* zipName;
  int32_t seven;          // 7
  char* specs[kSpecSlots];
};

struct UnzipCommand {
  int32_t zero0;
  void* caller;
  int32_t version;        // 110
  Callback callback;
  int32_t trace;
  int32_t zero20[5];
  int32_t minusOne40;
  int32_t verbose;
  int32_t update;
  int32_t freshen;
  int32_t dirNames;       // true: re-create the stored directories
  int32_t overwrite;
  int32_t argc;           // 0: the whole archive
  char* zipName;
  int32_t seven;          // 7
  char* specs[kSpecSlots];
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(CallbackInfo) == 28 + kCallbackText, "CallbackInfo layout");
static_assert(sizeof(ZipCommand) == 16520, "ZipCommand must be 16,520 bytes");
static_assert(sizeof(UnzipCommand) == 16464, "UnzipCommand must be 16,464 bytes");
// Every field where the libraries look for it: a field moved or two swapped fail the build.
#define VK_AT(record, field, offset) \
  static_assert(__builtin_offsetof(record, field) == (offset), #record "." #field " at " #offset)
VK_AT(ZipCommand, zero0, 0);
VK_AT(ZipCommand, caller, 4);
VK_AT(ZipCommand, version, 8);
VK_AT(ZipCommand, callback, 12);
VK_AT(ZipCommand, trace, 16);
VK_AT(ZipCommand, zero20, 20);
VK_AT(ZipCommand, minusOne44, 44);
VK_AT(ZipCommand, zero48, 48);
VK_AT(ZipCommand, verbose, 52);
VK_AT(ZipCommand, minusOne56, 56);
VK_AT(ZipCommand, level, 60);
VK_AT(ZipCommand, zero64, 64);
VK_AT(ZipCommand, noDirNames, 72);
VK_AT(ZipCommand, recurseDirs, 76);
VK_AT(ZipCommand, minusOne80, 80);
VK_AT(ZipCommand, forceDos, 84);
VK_AT(ZipCommand, move, 88);
VK_AT(ZipCommand, zero92, 92);
VK_AT(ZipCommand, update, 96);
VK_AT(ZipCommand, freshen, 100);
VK_AT(ZipCommand, zero104, 104);
VK_AT(ZipCommand, zipTime, 108);
VK_AT(ZipCommand, zero112, 112);
VK_AT(ZipCommand, argc, 120);
VK_AT(ZipCommand, zipName, 124);
VK_AT(ZipCommand, seven, 128);
VK_AT(ZipCommand, specs, 132);
VK_AT(UnzipCommand, zero0, 0);
VK_AT(UnzipCommand, caller, 4);
VK_AT(UnzipCommand, version, 8);
VK_AT(UnzipCommand, callback, 12);
VK_AT(UnzipCommand, trace, 16);
VK_AT(UnzipCommand, zero20, 20);
VK_AT(UnzipCommand, minusOne40, 40);
VK_AT(UnzipCommand, verbose, 44);
VK_AT(UnzipCommand, update, 48);
VK_AT(UnzipCommand, freshen, 52);
VK_AT(UnzipCommand, dirNames, 56);
VK_AT(UnzipCommand, overwrite, 60);
VK_AT(UnzipCommand, argc, 64);
VK_AT(UnzipCommand, zipName, 68);
VK_AT(UnzipCommand, seven, 72);
VK_AT(UnzipCommand, specs, 76);
#undef VK_AT
#endif

// What an add leaves behind. The archive is written to "<archive>.vktmp" beside it,
// flushed, read back with every CRC checked, and only then moved over the archive.
// A cancelled add completes a valid archive of the files packed so far and leaves it
// as "<archive>.vkpart", so that its caller can choose between it and the previous
// archive. A failed add leaves neither file.
constexpr const char* kTempSuffix = ".vktmp";
constexpr const char* kCancelledSuffix = ".vkpart";

// Error codes of kMessage callbacks; the text names the file and the reason.
enum MessageCode : int32_t {
  kErrFileNotFound = 1,   // a specification names no existing file
  kErrFileRead = 2,       // a file to pack cannot be opened or read
  kErrFileSkipped = 3,    // a file named twice, a directory without recursion, a file that grew
  kErrArchiveWrite = 4,   // the archive cannot be written or put in place
  kErrArchiveRead = 5,    // the archive cannot be opened or its directory read
  kErrVerify = 6,         // the written archive failed its read-back check
  kErrEntryRefused = 7,   // an entry is not extracted: name, duplicate, overlap, link, method
  kErrEntryDamaged = 8,   // an entry's data fail their size or CRC-32 check
  kErrFileWrite = 9,      // an extracted file or its directory cannot be created
  kErrFileExists = 10,    // an existing file is kept because overwriting is off
  kErrNotInArchive = 11,  // a specification selects no entry
};

// The name that a pack announces (kFileBegins) for the read-back check of the
// archive it wrote; its size is the sum of the entries' sizes, and progress steps
// follow as the check goes on. A stop during the check leaves no archive.
constexpr const char* kCheckLabel = "Prüfung des geschriebenen ZIP-Archivs";

// Results of the entry: > 0 the number of files processed; 0 nothing to do;
// < 0 the run failed or was cancelled.
constexpr int32_t kResultCancelled = -1;
constexpr int32_t kResultFailed = -2;

}  // namespace vk::engine

extern "C" {
// Ordinal 2 of "VKZIP.DLL" and of "VKUNZIP.DLL".
int32_t VK_STDCALL VkZipExecute(vk::engine::ZipCommand* command);
int32_t VK_STDCALL VkUnzipExecute(vk::engine::UnzipCommand* command);
}
