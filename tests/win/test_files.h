#pragma once
// File helpers shared by the Windows tests: whole-file reads and writes, tests for
// files and folders, scratch folders, and removing a tree with whatever attributes it has.
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>

namespace vk::testfiles {

// "<missing>" when the file cannot be opened, so that no missing file passes for an empty one.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Missing parent folders are made first.
inline void WriteBytes(const std::string& path, const std::string& bytes) {
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool IsFile(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool IsDirectory(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Wide throughout and in the "\\?\" form: a file whose name the ANSI code page cannot
// spell, or a path beyond MAX_PATH, would stay, and with it the folder, for the next
// test process that gets the same name.
inline void RemoveTreeW(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTreeW(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(dir.c_str());
}

inline void RemoveTree(const std::string& dir) {
  std::wstring wide(dir.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, dir.data(), static_cast<int>(dir.size()),
                                                      wide.data(), static_cast<int>(wide.size()))));
  wchar_t full[MAX_PATH];
  if (GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr)) RemoveTreeW(L"\\\\?\\" + std::wstring(full));
}

// A fresh folder under %TEMP% (not made when `create` is false), removed with
// everything in it at the end; a current directory inside it moves out first.
class TempDir {
 public:
  explicit TempDir(const std::string& tag, bool create = true) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static std::atomic<int> counter{0};
    path_ = std::string(base) + "vk_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter++);
    RemoveTree(path_);
    if (create) CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDir() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    if (_strnicmp(cwd, path_.c_str(), path_.size()) == 0) {
      char base[MAX_PATH];
      GetTempPathA(MAX_PATH, base);
      SetCurrentDirectoryA(base);
    }
    RemoveTree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  std::string MakeDir(const std::string& relative, DWORD attributes = 0) const {
    const std::string path = *this / relative;
    CreateDirectoryA(path.c_str(), nullptr);
    if (attributes) SetFileAttributesA(path.c_str(), attributes);
    return path;
  }

 private:
  std::string path_;
};

}  // namespace vk::testfiles
