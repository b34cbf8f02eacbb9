#include "zipengine/common/win_fs.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/zip_workers.h"

namespace vk::engine {

namespace {
// Every open File of this module, and whether it is a temporary one.
zip::Mutex g_openMutex;
std::unordered_map<HANDLE, bool> g_open;
}  // namespace

void EndCallAfterFault() {
  zip::WorkerPool::StopAfterFault();
  std::lock_guard<zip::Mutex> lock(g_openMutex);
  for (const auto& [handle, temporary] : g_open) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (temporary) SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
  }
  g_open.clear();
}

File::File(HANDLE handle, bool temporary) : handle_(handle) {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  std::lock_guard<zip::Mutex> lock(g_openMutex);
  g_open[handle_] = temporary;
}

std::wstring AnsiToWide(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

std::string WideToAnsi(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), n, nullptr,
                      nullptr);
  return ansi;
}

std::u16string ToU16(std::wstring_view wide) { return std::u16string(wide.begin(), wide.end()); }
std::wstring FromU16(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string SystemFoldCase(std::u16string_view text) {
  if (text.empty()) return std::u16string();
  std::wstring out(text.size(), L'\0');
  const int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, reinterpret_cast<const wchar_t*>(text.data()),
                             static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()));
  if (n != static_cast<int>(text.size())) return zip::FoldCase(text);
  return ToU16(out);
}

zip::NameRules SystemNameRules() {
  zip::NameRules rules;
  rules.oem = &zip::OemTableFor(GetOEMCP());
  rules.fold = &SystemFoldCase;
  return rules;
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (true) {
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return path;
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

std::wstring ApiPath(const std::wstring& path) {
  // Short paths go as they are; MAX_PATH less the room CreateDirectory wants.
  constexpr size_t kShort = MAX_PATH - 12;
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  const std::wstring full = FullPath(path);
  if (full.size() < kShort) return path;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n ? std::string(text, n) : "Fehler " + std::to_string(error);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

zip::DosDateTime FileTimeToDos(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return {};
  return zip::ToDosDateTime({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond});
}

FILETIME DosToFileTime(zip::DosDateTime dos) {
  const zip::CivilTime t = zip::FromDosDateTime(dos);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  FILETIME local{}, utc{};
  if (!SystemTimeToFileTime(&st, &local)) {
    st.wDay = 1;  // a day the month does not have
    SystemTimeToFileTime(&st, &local);
  }
  LocalFileTimeToFileTime(&local, &utc);
  return utc;
}

namespace {

struct NtUnicodeString {
  USHORT length;
  USHORT maximumLength;
  PWSTR buffer;
};
struct NtObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  NtUnicodeString* objectName;
  ULONG attributes;
  PVOID securityDescriptor;
  PVOID securityQualityOfService;
};
struct NtNetworkOpenInformation {
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime, allocationSize, endOfFile;
  ULONG fileAttributes;
};
using QueryFullAttributes = LONG(WINAPI*)(NtObjectAttributes*, NtNetworkOpenInformation*);
constexpr ULONG kObjCaseInsensitive = 0x40;

struct NtIoStatus {
  union {
    LONG status;
    PVOID pointer;
  };
  ULONG_PTR information;
};
// FILE_FULL_DIR_INFORMATION: the directory read that carries the change time.
struct NtFullDirInformation {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime, endOfFile, allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;
  ULONG eaSize;
  WCHAR fileName[1];
};
using OpenFile = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, NtObjectAttributes*, NtIoStatus*, ULONG, ULONG);
using QueryDirectoryFile = LONG(WINAPI*)(HANDLE, HANDLE, PVOID, PVOID, NtIoStatus*, PVOID, ULONG, int, BOOLEAN,
                                         NtUnicodeString*, BOOLEAN);
constexpr int kFileFullDirectoryInformation = 2;
constexpr ULONG kFileDirectoryFile = 0x1, kFileSynchronousIoNonalert = 0x20, kFileOpenForBackupIntent = 0x4000;

template <class Function>
Function NtFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// The one call that gives the change time without opening the file; the Win32
// attribute query makes the same call and drops that time.
QueryFullAttributes FullAttributesQuery() {
  static const auto query = NtFunction<QueryFullAttributes>("NtQueryFullAttributesFile");
  return query;
}

// The native form of a full path: "\??\C:\...", "\??\UNC\server\...".
std::wstring NativePath(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return L"\\??\\" + full.substr(4);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + full.substr(2);
  return L"\\??\\" + full;
}

uint64_t Ticks(const LARGE_INTEGER& t) { return t.QuadPart < 0 ? 0 : static_cast<uint64_t>(t.QuadPart); }

FILETIME ToFileTime(const LARGE_INTEGER& t) {
  return {static_cast<DWORD>(t.QuadPart), static_cast<DWORD>(t.QuadPart >> 32)};
}

// Without the native calls: the Win32 listing, which drops the change time.
bool ListFolderWithoutChangeTimes(const std::wstring& dir, std::vector<FolderEntry>* entries) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileExW(ApiPath(dir + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                      nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    FolderEntry entry{data.cFileName, {}};
    entry.facts.attributes = data.dwFileAttributes;
    entry.facts.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry.facts.modified = data.ftLastWriteTime;
    if (entry.name != L"." && entry.name != L"..") entries->push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

}  // namespace

bool QueryFile(const std::wstring& path, FileFacts* facts) {
  *facts = FileFacts{};
  if (const QueryFullAttributes query = FullAttributesQuery()) {
    std::wstring native = NativePath(path);
    if (native.size() * sizeof(wchar_t) < 0xFFFF) {
      NtUnicodeString name{static_cast<USHORT>(native.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(native.size() * sizeof(wchar_t)), native.data()};
      NtObjectAttributes object{sizeof(NtObjectAttributes), nullptr, &name, kObjCaseInsensitive, nullptr, nullptr};
      NtNetworkOpenInformation info{};
      if (query(&object, &info) >= 0) {
        facts->attributes = info.fileAttributes;
        facts->size = Ticks(info.endOfFile);
        facts->modified = ToFileTime(info.lastWriteTime);
        facts->changed = Ticks(info.changeTime);
        return true;
      }
    }
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(ApiPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  facts->attributes = data.dwFileAttributes;
  facts->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  facts->modified = data.ftLastWriteTime;
  return true;
}

bool ListFolder(const std::wstring& dir, std::vector<FolderEntry>* entries) {
  static const auto open = NtFunction<OpenFile>("NtOpenFile");
  static const auto query = NtFunction<QueryDirectoryFile>("NtQueryDirectoryFile");
  std::wstring folder = dir;
  while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/') && folder[folder.size() - 2] != L':')
    folder.pop_back();
  if (!open || !query) return ListFolderWithoutChangeTimes(folder, entries);
  std::wstring native = NativePath(folder.empty() ? L"." : folder);
  if (native.size() * sizeof(wchar_t) >= 0xFFFF) return false;
  NtUnicodeString name{static_cast<USHORT>(native.size() * sizeof(wchar_t)),
                       static_cast<USHORT>(native.size() * sizeof(wchar_t)), native.data()};
  NtObjectAttributes object{sizeof(NtObjectAttributes), nullptr, &name, kObjCaseInsensitive, nullptr, nullptr};
  NtIoStatus io{};
  HANDLE handle = nullptr;
  if (open(&handle, FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &io, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
           kFileDirectoryFile | kFileSynchronousIoNonalert | kFileOpenForBackupIntent) < 0)
    return false;
  // A host folder holds tens of files: one read takes them all.
  std::vector<ULONGLONG> buffer(64 * 1024 / sizeof(ULONGLONG));
  for (BOOLEAN first = TRUE;; first = FALSE) {
    if (query(handle, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)),
              kFileFullDirectoryInformation, FALSE, nullptr, first) < 0)
      break;  // the end of the listing, or a read that failed: what came so far counts
    const char* at = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const auto* info = reinterpret_cast<const NtFullDirInformation*>(at);
      FolderEntry entry{std::wstring(info->fileName, info->fileNameLength / sizeof(WCHAR)), {}};
      entry.facts.attributes = info->fileAttributes;
      entry.facts.size = Ticks(info->endOfFile);
      entry.facts.modified = ToFileTime(info->lastWriteTime);
      entry.facts.changed = Ticks(info->changeTime);
      if (entry.name != L"." && entry.name != L"..") entries->push_back(std::move(entry));
      if (info->nextEntryOffset == 0) break;
      at += info->nextEntryOffset;
    }
  }
  CloseHandle(handle);
  return true;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(ApiPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(ApiPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirectories(const std::wstring& path, DWORD* error, bool* created) {
  if (created) *created = false;
  if (path.empty() || DirectoryExists(path)) return true;
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0 && !(slash == 2 && path[1] == L':')) {
    if (!MakeDirectories(path.substr(0, slash), error)) return false;
  }
  if (CreateDirectoryW(ApiPath(path).c_str(), nullptr)) {
    if (created) *created = true;
    return true;
  }
  const DWORD e = GetLastError();
  if (e == ERROR_ALREADY_EXISTS && DirectoryExists(path)) return true;
  *error = e;
  return false;
}

bool DeleteFileAt(const std::wstring& path) { return DeleteFileW(ApiPath(path).c_str()) != 0; }

bool MoveOver(const std::wstring& source, const std::wstring& target, bool replace, DWORD* error) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  const std::wstring from = ApiPath(source), to = ApiPath(target);
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  DWORD e = GetLastError();
  // A read-only file in the way is replaced too, as an extraction with overwrite
  // means to.
  if (replace && e == ERROR_ACCESS_DENIED) {
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
      if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
      e = GetLastError();
      SetFileAttributesW(to.c_str(), attributes);
    }
  }
  *error = e;
  return false;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    position_ = other.position_;
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

File File::OpenRead(const std::wstring& path, DWORD* error) {
  const HANDLE h = CreateFileW(ApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) *error = GetLastError();
  return File(h, false);
}

File File::OpenCompare(const std::wstring& path, DWORD* error) {
  const HANDLE h = CreateFileW(ApiPath(path).c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) *error = GetLastError();
  return File(h, false);
}

File File::Create(const std::wstring& path, DWORD disposition, DWORD* error) {
  const HANDLE h = CreateFileW(ApiPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) *error = GetLastError();
  return File(h, false);
}

File File::CreateTemporary(const std::wstring& path, DWORD* error) {
  const HANDLE h = CreateFileW(ApiPath(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) *error = GetLastError();
  return File(h, true);
}

bool File::RenameTo(const std::wstring& target, bool replace, DWORD* error) {
  // The name is an NT path: "\??\" and the full DOS path.
  std::wstring full = FullPath(target);
  if (full.compare(0, 4, L"\\\\?\\") == 0) full = full.substr(4);
  else if (full.compare(0, 2, L"\\\\") == 0) full = L"UNC\\" + full.substr(2);
  const std::wstring name = L"\\??\\" + full;
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), info->FileName);
  if (SetFileInformationByHandle(handle_, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
    std::lock_guard<zip::Mutex> lock(g_openMutex);
    g_open[handle_] = false;  // now the file itself: a fault must not delete it
    return true;
  }
  *error = GetLastError();
  return false;
}

namespace {

constexpr size_t kMaxTransfer = 1u << 30;

}  // namespace

bool File::Seek(uint64_t offset, DWORD* error) {
  if (offset == position_) return true;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN)) {
    *error = GetLastError();
    position_ = kUnknown;
    return false;
  }
  position_ = offset;
  return true;
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t length, size_t* got, DWORD* error) {
  if (!Seek(offset, error)) return false;
  DWORD n = 0;
  if (!ReadFile(handle_, buffer, static_cast<DWORD>(std::min(length, kMaxTransfer)), &n, nullptr)) {
    *error = GetLastError();
    position_ = kUnknown;
    return false;
  }
  position_ += n;
  *got = n;
  return true;
}

bool File::ReadExactly(uint64_t offset, void* buffer, size_t length) {
  auto* p = static_cast<char*>(buffer);
  while (length > 0) {
    size_t got = 0;
    DWORD error = 0;
    if (!ReadAt(offset, p, length, &got, &error) || got == 0) return false;
    p += got, offset += got, length -= got;
  }
  return true;
}

bool File::WriteAt(uint64_t offset, const void* data, size_t length, DWORD* error) {
  if (!Seek(offset, error)) return false;
  const auto* p = static_cast<const char*>(data);
  while (length > 0) {
    DWORD n = 0;
    if (!WriteFile(handle_, p, static_cast<DWORD>(std::min(length, kMaxTransfer)), &n, nullptr)) {
      *error = GetLastError();
      position_ = kUnknown;
      return false;
    }
    if (n == 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    p += n, length -= n, position_ += n;
  }
  return true;
}

bool File::SetSize(uint64_t size, DWORD* error) {
  if (Seek(size, error) && SetEndOfFile(handle_)) return true;
  *error = GetLastError();
  return false;
}

bool File::Flush(DWORD* error) {
  if (FlushFileBuffers(handle_)) return true;
  *error = GetLastError();
  return false;
}

std::optional<uint64_t> File::Size() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_, &size)) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

bool File::Discard(const std::wstring& path) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool marked = IsOpen() && SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition,
                                                             sizeof(disposition));
  Close();
  return marked || DeleteFileAt(path);
}

void File::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    {
      std::lock_guard<zip::Mutex> lock(g_openMutex);
      g_open.erase(handle_);
    }
    CloseHandle(handle_);
  }
  handle_ = INVALID_HANDLE_VALUE;
  position_ = 0;
}

bool WindowedAccess::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (length > kWindow) return file_.ReadExactly(offset, buffer, length);
  if (offset < start_ || offset - start_ + length > window_.size()) {
    if (offset > size_ || size_ - offset < length) return false;
    window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - offset)));
    start_ = offset;
    if (!file_.ReadExactly(offset, window_.data(), window_.size())) {
      window_.clear();
      return false;
    }
  }
  std::copy_n(window_.data() + (offset - start_), length, static_cast<char*>(buffer));
  return true;
}

}  // namespace vk::engine
