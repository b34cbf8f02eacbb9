#pragma once
// Shared by the engine tests: a scratch directory made current, files, the two
// entries called through their command records with a recording callback, and
// archives read back with the core's reader.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "test_files.h"
#include "zip_builder.h"
#include "zipengine/engine_abi.h"

namespace enginetest {

using namespace vk::engine;

struct Event {
  int32_t action;
  int32_t code;
  int32_t size;
  std::string text;
  DWORD thread;
};

// Records every callback; answers -1 from the event that stopAt selects on.
struct Recorder {
  std::vector<Event> events;
  std::function<bool(const Event&, const Recorder&)> stopAt;
  bool stopped = false;

  int Count(int32_t action) const {
    int n = 0;
    for (const auto& e : events) n += e.action == action;
    return n;
  }
  // The files announced; a pack's read-back check, announced after them, is not one.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : events)
      if (e.action == kFileBegins && e.text != kCheckLabel) names.push_back(e.text);
    return names;
  }
  std::vector<Event> Messages() const {
    std::vector<Event> m;
    for (const auto& e : events)
      if (e.action == kMessage) m.push_back(e);
    return m;
  }
  std::string AllMessages() const {
    std::string all;
    for (const auto& e : Messages()) all += std::to_string(e.code) + " " + e.text + "\n";
    return all;
  }
};

inline int32_t VK_STDCALL RecordingCallback(CallbackInfo* info) {
  auto* r = static_cast<Recorder*>(info->caller);
  r->events.push_back({info->action, info->errorCode, info->fileSize, info->text, GetCurrentThreadId()});
  if (r->stopAt && r->stopAt(r->events.back(), *r)) {
    r->stopped = true;
    return -1;
  }
  return 0;
}

// Name and specification buffers as the component makes them: 256 bytes at least.
inline std::vector<char> Buffer(const std::string& text) {
  std::vector<char> b(std::max<size_t>(kNameBuffer, text.size() + 1), '\0');
  std::memcpy(b.data(), text.data(), text.size());
  return b;
}

struct ZipOptions {
  int level = 9;
  bool keepDirs = true;
  bool recurse = false;
};

inline int32_t Zip(const std::string& archive, const std::vector<std::string>& specs, Recorder& r,
                   ZipOptions o = {}) {
  std::vector<char> name = Buffer(archive);
  std::vector<std::vector<char>> buffers;
  for (const auto& s : specs) buffers.push_back(Buffer(s));
  const size_t slots = std::max<size_t>(kSpecSlots, buffers.size());
  std::vector<char> record(sizeof(ZipCommand) + (slots - kSpecSlots) * sizeof(char*), 0);
  auto* c = reinterpret_cast<ZipCommand*>(record.data());
  c->caller = &r;
  c->version = 110;
  c->callback = RecordingCallback;
  c->minusOne44 = c->minusOne56 = c->minusOne80 = kTrue;
  c->level = o.level;
  c->noDirNames = o.keepDirs ? kFalse : kTrue;
  c->recurseDirs = o.recurse ? kTrue : kFalse;
  c->argc = static_cast<int32_t>(buffers.size());
  c->zipName = name.data();
  c->seven = 7;
  for (size_t i = 0; i < buffers.size(); ++i) c->specs[i] = buffers[i].data();
  return VkZipExecute(c);
}

struct UnzipOptions {
  bool keepDirs = true;
  bool overwrite = true;
};

inline int32_t Unzip(const std::string& archive, const std::vector<std::string>& specs, Recorder& r,
                     UnzipOptions o = {}) {
  std::vector<char> name = Buffer(archive);
  std::vector<std::vector<char>> buffers;
  for (const auto& s : specs) buffers.push_back(Buffer(s));
  const size_t slots = std::max<size_t>(kSpecSlots, buffers.size());
  std::vector<char> record(sizeof(UnzipCommand) + (slots - kSpecSlots) * sizeof(char*), 0);
  auto* c = reinterpret_cast<UnzipCommand*>(record.data());
  c->caller = &r;
  c->version = 110;
  c->callback = RecordingCallback;
  c->minusOne40 = kTrue;
  c->dirNames = o.keepDirs ? kTrue : kFalse;
  c->overwrite = o.overwrite ? kTrue : kFalse;
  c->argc = static_cast<int32_t>(buffers.size());
  c->zipName = name.data();
  c->seven = 7;
  for (size_t i = 0; i < buffers.size(); ++i) c->specs[i] = buffers[i].data();
  return VkUnzipExecute(c);
}

using vk::testfiles::ReadBytes;
using vk::testfiles::WriteBytes;

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Names in a directory that match a pattern, e.g. "*.vktmp".
inline std::vector<std::string> Find(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (strcmp(data.cFileName, ".") && strcmp(data.cFileName, "..")) names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

using vk::testfiles::RemoveTree;
using vk::testzip::ZipBuilder;
using vk::testfiles::RemoveTreeW;

// Text with some repetition, so that it compresses, of a given size.
inline std::string Text(size_t size, unsigned seed = 1) {
  std::string s;
  unsigned x = seed;
  while (s.size() < size) {
    x = x * 1103515245 + 12345;
    s += "line " + std::to_string((x >> 8) % 1000) + " of the Kestrone settings\r\n";
  }
  s.resize(size);
  return s;
}

inline std::string Random(size_t size, unsigned seed = 7) {
  std::string s(size, '\0');
  unsigned x = seed;
  for (auto& c : s) {
    x = x * 1664525 + 1013904223;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// The engines work relative to the current directory: each test gets a fresh one
// inside the Wine prefix's temporary folder, and the old one back afterwards.
class EngineDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryA(MAX_PATH, saved_);
    ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str())) << root_;
  }
  void TearDown() override { SetCurrentDirectoryA(saved_); }

  vk::testfiles::TempDir dir_{"engine"};
  const std::string root_ = dir_.Path();
  char saved_[MAX_PATH];
};

// The archive read back with the core's reader.
struct ReadBack {
  vk::zip::Directory dir;
  std::string bytes;

  explicit ReadBack(const std::string& path) : bytes(ReadBytes(path)) {
    vk::zip::MemoryAccess access(bytes);
    dir = vk::zip::ReadDirectory(access);
  }
  const vk::zip::Entry* Find(const std::string& name) const {
    for (const auto& e : dir.entries)
      if (e.name == name) return &e;
    return nullptr;
  }
  std::string Data(const std::string& name) {
    vk::zip::MemoryAccess access(bytes);
    for (auto& e : dir.entries) {
      if (e.name != name) continue;
      struct Collect : vk::zip::DataSink {
        std::string data;
        bool Write(const void* p, size_t n) override {
          data.append(static_cast<const char*>(p), n);
          return true;
        }
      } sink;
      if (!vk::zip::LocateData(access, &e) || vk::zip::ReadEntryData(access, e, sink) != vk::zip::DataResult::kOk)
        return "<damaged>";
      return sink.data;
    }
    return "<missing>";
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : dir.entries) names.push_back(e.name);
    return names;
  }
};

}  // namespace enginetest
