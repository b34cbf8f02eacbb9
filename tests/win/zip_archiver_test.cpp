#include "backup/zip_archiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "runs_test_util.h"
#include "engine_faults.h"
#include "win/application.h"

namespace {

using vk::backup::AddOpts;
using vk::backup::ExtrOpts;
using vk::backup::ProgressType;
using vk::backup::TZipArchiver;
using vk::engine::CallbackInfo;
using vk::engine::UnzipCommand;
using vk::engine::ZipCommand;
using vk::testing::Answer;
using vk::testing::TempDir;
using vk::testing::Watcher;
using vk::testing::ZipBuilder;

// What a fake engine saw of the record it was handed.
struct SeenRecord {
  std::vector<int32_t> words;  // the 32-bit fields before the pointers and slots
  void* caller = nullptr;
  void* callback = nullptr;
  int32_t argc = 0;
  int32_t seven = 0;
  std::string zipName;
  std::vector<std::string> specs;
  int calls = 0;
};

SeenRecord g_zipSeen;
SeenRecord g_unzipSeen;
// What the fake engine does while "working": drives callbacks, returns its result.
std::function<int32_t(vk::engine::Callback, void*)> g_work;

int32_t Work(vk::engine::Callback cb, void* caller) { return g_work ? g_work(cb, caller) : 1; }

// The records are read by byte offset, not through their structures, so that a field
// moved or two swapped show. The offsets are those of the 32-bit libraries; on the
// 64-bit build each address widens to 8 bytes, aligned, and the rest moves along.
struct Layout {
  std::vector<size_t> addresses;  // 32-bit offsets of the address fields
  size_t Native(size_t at32) const {
    auto width = [this](size_t at) {
      return std::count(addresses.begin(), addresses.end(), at) ? sizeof(void*) : size_t{4};
    };
    size_t at = 0;
    for (size_t w = 0; w <= at32; w += 4) {
      at = (at + width(w) - 1) / width(w) * width(w);
      if (w < at32) at += width(w);
    }
    return at;
  }
  int32_t Word(const void* record, size_t at32) const {
    int32_t v;
    std::memcpy(&v, static_cast<const char*>(record) + Native(at32), sizeof v);
    return v;
  }
  void* Address(const void* record, size_t at32) const {
    void* p;
    std::memcpy(&p, static_cast<const char*>(record) + Native(at32), sizeof p);
    return p;
  }
};

// caller 4, callback 12, archive name, slots: the rest are 32-bit words.
const Layout kZipLayout{{4, 12, 124, 132}};
const Layout kUnzipLayout{{4, 12, 68, 76}};

// Reads a record's words at the given 32-bit offsets, its addresses, then does the fake work.
int32_t Record(SeenRecord& s, const void* c, const Layout& l, const std::vector<size_t>& words,
               size_t argcAt) {
  ++s.calls;
  s.words.clear();
  for (size_t at : words) s.words.push_back(l.Word(c, at));
  s.caller = l.Address(c, 4);
  s.callback = l.Address(c, 12);
  s.argc = l.Word(c, argcAt);
  s.zipName = static_cast<const char*>(l.Address(c, argcAt + 4));
  s.seven = l.Word(c, argcAt + 8);
  s.specs.clear();
  const size_t slots = l.Native(argcAt + 12);
  for (int i = 0; i < s.argc; ++i) {
    char* spec;
    std::memcpy(&spec, static_cast<const char*>(c) + slots + i * sizeof spec, sizeof spec);
    s.specs.push_back(spec);
  }
  return Work(reinterpret_cast<vk::engine::Callback>(s.callback), s.caller);
}

// The 32-bit words, in order, up to the file specification count.
std::vector<size_t> WordsUpTo(size_t end) {
  std::vector<size_t> at = {0, 8};
  for (size_t w = 16; w < end; w += 4) at.push_back(w);
  return at;
}

int32_t VK_STDCALL FakeZip(ZipCommand* c) {
  return Record(g_zipSeen, c, kZipLayout, WordsUpTo(120), 120);
}

int32_t VK_STDCALL FakeUnzip(UnzipCommand* c) {
  return Record(g_unzipSeen, c, kUnzipLayout, WordsUpTo(64), 64);
}

// Indices into SeenRecord::words.
enum ZipWord { zTrace = 2, zVerbose = 11, zLevel = 13, zNoDirNames = 16, zRecurse = 17,
               zForceDos = 19, zMove = 20, zUpdate = 22, zFreshen = 23, zZipTime = 25 };
enum UnzipWord { uTrace = 2, uVerbose = 9, uUpdate = 10, uFreshen = 11, uDirNames = 12,
                 uOverwrite = 13 };

int32_t Call(vk::engine::Callback cb, void* caller, int32_t action, const std::string& text = "",
             int32_t size = 0, int32_t code = 0) {
  CallbackInfo info{};
  info.caller = caller;
  info.action = action;
  info.errorCode = code;
  info.fileSize = size;
  std::strncpy(info.text, text.c_str(), sizeof info.text - 1);
  return cb(&info);
}

struct Event {
  ProgressType type;
  std::string name;
  int size;
  bool operator==(const Event& o) const {
    return type == o.type && name == o.name && size == o.size;
  }
};

class ZipArchiverFake : public ::testing::Test {
 protected:
  void SetUp() override {
    if (vk::win::App().Title().empty()) vk::win::App().SetTitle("Vaultkin");
    savedZip_ = TZipArchiver::zipEntry;
    savedUnzip_ = TZipArchiver::unzipEntry;
    TZipArchiver::zipEntry = &FakeZip;
    TZipArchiver::unzipEntry = &FakeUnzip;
    g_zipSeen = {};
    g_unzipSeen = {};
    g_work = nullptr;
    zip.OnProgress = [this](ProgressType t, const std::string& n, int s) {
      events.push_back({t, n, s});
    };
  }
  void TearDown() override {
    TZipArchiver::zipEntry = savedZip_;
    TZipArchiver::unzipEntry = savedUnzip_;
    TZipArchiver::SetSpecSlotLimit(vk::engine::kSpecSlots);
    g_work = nullptr;
  }
  // A name that no file has, so that assigning it reads no directory.
  void NameMissingArchive() { zip.SetZipFilename(dir / "out.zip"); }

  TempDir dir{"zipfake"};
  TZipArchiver zip;
  std::vector<Event> events;

 private:
  TZipArchiver::ZipEntry savedZip_ = nullptr;
  TZipArchiver::UnzipEntry savedUnzip_ = nullptr;
};

TEST_F(ZipArchiverFake, ZipRecordFixedFieldsAndDefaults) {
  NameMissingArchive();
  zip.FSpecArgs = {"a.txt", "sub\\b.txt"};
  zip.Add();
  ASSERT_EQ(g_zipSeen.calls, 1);
  const auto& w = g_zipSeen.words;
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(w[1], 110);
  for (int i = 3; i <= 8; ++i) EXPECT_EQ(w[i], 0) << i;
  EXPECT_EQ(w[9], -1);
  EXPECT_EQ(w[10], 0);
  EXPECT_EQ(w[12], -1);
  EXPECT_EQ(w[zLevel], 9);
  EXPECT_EQ(w[14], 0);
  EXPECT_EQ(w[15], 0);
  EXPECT_EQ(w[18], -1);
  EXPECT_EQ(w[21], 0);
  EXPECT_EQ(w[24], 0);
  EXPECT_EQ(w[26], 0);
  EXPECT_EQ(w[27], 0);
  EXPECT_EQ(g_zipSeen.seven, 7);
  EXPECT_EQ(g_zipSeen.caller, &zip);
  EXPECT_EQ(g_zipSeen.callback, reinterpret_cast<void*>(&TZipArchiver::ZipCallback));
  EXPECT_EQ(g_zipSeen.zipName, dir / "out.zip");
  EXPECT_EQ(g_zipSeen.argc, 2);
  EXPECT_EQ(g_zipSeen.specs, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
  // No options: directory names are left out, nothing else is on.
  EXPECT_EQ(w[zNoDirNames], -1);
  for (int i : {zTrace, zVerbose, zRecurse, zForceDos, zMove, zUpdate, zFreshen, zZipTime})
    EXPECT_EQ(w[i], 0) << i;
}

TEST_F(ZipArchiverFake, ZipRecordFollowsOptions) {
  struct Case {
    AddOpts opts;
    bool trace, verbose;
    std::vector<int> on;  // words that must be -1; the other flags 0
  };
  using namespace vk::backup;
  const std::vector<Case> cases = {
      {{AddDirNames}, false, false, {}},
      {{AddDirNames, AddRecurseDirs}, false, false, {zRecurse}},
      {{AddFreshen}, false, false, {zNoDirNames, zFreshen}},
      {{AddFreshen, AddUpdate}, false, false, {zNoDirNames, zUpdate}},
      {{AddUpdate}, false, false, {zNoDirNames, zUpdate}},
      {{AddMove, AddForceDOS, AddZipTime}, false, false, {zNoDirNames, zMove, zForceDos, zZipTime}},
      {{AddDirNames}, true, false, {zTrace, zVerbose}},
      {{AddDirNames}, false, true, {zVerbose}},
  };
  const std::vector<int> flags = {zTrace, zVerbose, zNoDirNames, zRecurse, zForceDos,
                                  zMove,  zUpdate,  zFreshen,    zZipTime};
  for (size_t n = 0; n < cases.size(); ++n) {
    const Case& c = cases[n];
    NameMissingArchive();
    zip.AddOptions = c.opts;
    zip.Trace = c.trace;
    zip.Verbose = c.verbose;
    zip.AddCompLevel = static_cast<int>(n);
    zip.FSpecArgs = {"x"};
    zip.Add();
    for (int f : flags) {
      bool on = std::find(c.on.begin(), c.on.end(), f) != c.on.end();
      EXPECT_EQ(g_zipSeen.words[f], on ? -1 : 0) << "case " << n << " word " << f;
    }
    EXPECT_EQ(g_zipSeen.words[zLevel], static_cast<int>(n));
  }
}

TEST_F(ZipArchiverFake, UnzipRecordFollowsOptions) {
  using namespace vk::backup;
  zip.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
  NameMissingArchive();
  zip.Extract();
  ASSERT_EQ(g_unzipSeen.calls, 1);
  const auto& w = g_unzipSeen.words;
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(w[1], 110);
  for (int i = 3; i <= 7; ++i) EXPECT_EQ(w[i], 0);
  EXPECT_EQ(w[8], -1);
  EXPECT_EQ(g_unzipSeen.seven, 7);
  EXPECT_EQ(g_unzipSeen.caller, &zip);
  EXPECT_EQ(g_unzipSeen.argc, 0);  // the whole archive
  EXPECT_EQ(w[uDirNames], -1);
  EXPECT_EQ(w[uOverwrite], -1);
  EXPECT_EQ(w[uUpdate], 0);
  EXPECT_EQ(w[uFreshen], 0);
  EXPECT_EQ(w[uTrace], 0);
  EXPECT_EQ(w[uVerbose], 0);

  zip.ExtrOptions = {ExtrFreshen, ExtrUpdate};
  zip.Trace = true;
  zip.FSpecArgs = {"one", "two"};
  zip.Extract();
  EXPECT_EQ(w[uUpdate], -1);
  EXPECT_EQ(w[uFreshen], 0);
  EXPECT_EQ(w[uDirNames], 0);
  EXPECT_EQ(w[uOverwrite], 0);
  EXPECT_EQ(w[uTrace], -1);
  EXPECT_EQ(w[uVerbose], -1);
  EXPECT_EQ(g_unzipSeen.specs, (std::vector<std::string>{"one", "two"}));

  zip.ExtrOptions = {ExtrFreshen};
  zip.Trace = false;
  zip.Extract();
  EXPECT_EQ(w[uFreshen], -1);
  EXPECT_EQ(w[uUpdate], 0);
}

TEST_F(ZipArchiverFake, EveryCallEmptiesSpecsAndKeepsTheResult) {
  NameMissingArchive();
  g_work = [](auto, void*) { return -2; };
  zip.FSpecArgs = {"a"};
  zip.Add();
  EXPECT_TRUE(zip.FSpecArgs.empty());
  EXPECT_EQ(zip.DllResult(), -2);
  EXPECT_FALSE(zip.ZipBusy());

  g_work = [](auto, void*) { return 0; };
  zip.FSpecArgs = {"b"};
  zip.Extract();
  EXPECT_TRUE(zip.FSpecArgs.empty());
  EXPECT_EQ(zip.DllResult(), 0);
  EXPECT_FALSE(zip.UnzipBusy());
}

TEST_F(ZipArchiverFake, LongNamesAndMoreSpecsThanSlotsReachTheEngineWhole) {
  std::string longName(300, 'n');
  longName += ".txt";
  TZipArchiver::SetSpecSlotLimit(4);
  zip.SetZipFilename(dir / std::string(270, 'z'));
  std::vector<std::string> specs;
  for (int i = 0; i < 11; ++i) specs.push_back("d\\file" + std::to_string(i));
  specs.push_back(longName);
  zip.FSpecArgs = specs;
  zip.Add();
  EXPECT_EQ(g_zipSeen.argc, 12);
  EXPECT_EQ(g_zipSeen.specs, specs);
  EXPECT_EQ(g_zipSeen.zipName, dir / std::string(270, 'z'));
  EXPECT_EQ(g_zipSeen.seven, 7);

  zip.FSpecArgs = specs;
  zip.Extract();
  EXPECT_EQ(g_unzipSeen.argc, 12);
  EXPECT_EQ(g_unzipSeen.specs, specs);
}

TEST_F(ZipArchiverFake, CallbacksBecomeEvents) {
  std::vector<std::pair<int, std::string>> messages;
  zip.OnMessage = [&](int code, const std::string& m) { messages.push_back({code, m}); };
  std::vector<int32_t> answers;
  g_work = [&](vk::engine::Callback cb, void* caller) {
    answers.push_back(Call(cb, caller, 1, "dir/a.txt", 70000));
    answers.push_back(Call(cb, caller, 2));
    answers.push_back(Call(cb, caller, 4, "bad file\r\n", 0, 12));
    answers.push_back(Call(cb, caller, 4, "line\nX", 0, 3));
    answers.push_back(Call(cb, caller, 4, "ends\n", 0, 4));
    answers.push_back(Call(cb, caller, 4, "", 0, 5));
    answers.push_back(Call(cb, caller, 4, "a\n\r\n", 0, 6));
    answers.push_back(Call(cb, caller, 9, "ignored", 5));
    answers.push_back(Call(cb, caller, 3));
    return 1;
  };
  NameMissingArchive();
  zip.FSpecArgs = {"dir/a.txt"};
  zip.Add();
  EXPECT_EQ(events, (std::vector<Event>{{ProgressType::ptFileStart, "dir/a.txt", 70000},
                                        {ProgressType::ptFileStep, " ", 0},
                                        {ProgressType::ptBatchEnd, " ", 0}}));
  EXPECT_EQ(messages, (std::vector<std::pair<int, std::string>>{
                          {12, "bad file"}, {3, "lineX"}, {4, "ends"}, {5, ""}, {6, "a\n"}}));
  EXPECT_EQ(answers, std::vector<int32_t>(9, 0));
}

TEST_F(ZipArchiverFake, CancelAnswersEveryLaterCallbackAndDoesNotCarryOver) {
  int seen = 0;
  zip.OnProgress = [&](ProgressType, const std::string&, int) {
    if (++seen == 3) zip.Cancel = true;
  };
  std::vector<int32_t> answers;
  g_work = [&](vk::engine::Callback cb, void* caller) {
    for (int i = 0; i < 5; ++i) answers.push_back(Call(cb, caller, 2));
    return vk::engine::kResultCancelled;
  };
  NameMissingArchive();
  zip.FSpecArgs = {"a"};
  zip.Add();
  EXPECT_EQ(answers, (std::vector<int32_t>{0, 0, -1, -1, -1}));
  EXPECT_FALSE(zip.Cancel);
  EXPECT_EQ(zip.DllResult(), vk::engine::kResultCancelled);

  // A cancel set between calls is cleared by the next call before the engine starts.
  answers.clear();
  seen = 100;
  zip.Cancel = true;
  zip.FSpecArgs = {"a"};
  zip.Extract();
  EXPECT_EQ(answers, (std::vector<int32_t>(5, 0)));
  zip.Cancel = true;
  zip.FSpecArgs = {"a"};
  zip.Add();
  EXPECT_EQ(answers.size(), 10u);
  EXPECT_EQ(answers[5], 0);
}

TEST_F(ZipArchiverFake, SecondCallFromAnEventHandlerReturnsAtOnce) {
  bool busyInside = false;
  int reentries = 0;
  zip.OnProgress = [&](ProgressType, const std::string&, int) {
    if (reentries++ > 0) return;  // a broken busy test must not recurse for ever
    busyInside = zip.ZipBusy() || zip.UnzipBusy();
    zip.Add();
    zip.Extract();
  };
  g_work = [](vk::engine::Callback cb, void* caller) { return Call(cb, caller, 2), 1; };
  NameMissingArchive();

  zip.FSpecArgs = {"a"};
  zip.Add();
  EXPECT_TRUE(busyInside);
  EXPECT_EQ(g_zipSeen.calls, 1);
  EXPECT_EQ(g_unzipSeen.calls, 1);  // an extract is not an add: it runs
  EXPECT_FALSE(zip.ZipBusy());

  reentries = 0;
  g_zipSeen.calls = g_unzipSeen.calls = 0;
  zip.OnProgress = [&](ProgressType, const std::string&, int) {
    if (reentries++ > 0) return;
    busyInside = zip.UnzipBusy();
    zip.Extract();
  };
  zip.Extract();
  EXPECT_TRUE(busyInside);
  EXPECT_EQ(g_unzipSeen.calls, 1);
  EXPECT_FALSE(zip.UnzipBusy());
}

TEST_F(ZipArchiverFake, MissingSpecsOrNameShowPlainBoxes) {
  // No specifications: the box comes even with a name set and while an add runs.
  zip.FSpecArgs.clear();
  {
    Watcher w({{vk::win::App().Title(), IDOK}});
    NameMissingArchive();
    zip.Add();
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[0].text, "Error - no files to zip");
  }
  EXPECT_EQ(g_zipSeen.calls, 0);
  {
    Watcher w({{vk::win::App().Title(), IDOK}});
    zip.OnProgress = [&](ProgressType, const std::string&, int) {
      zip.FSpecArgs.clear();
      zip.Add();
    };
    g_work = [](vk::engine::Callback cb, void* caller) { return Call(cb, caller, 2), 1; };
    zip.FSpecArgs = {"a"};
    zip.Add();
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[0].text, "Error - no files to zip");
    EXPECT_EQ(g_zipSeen.calls, 1);
  }
  // No archive name: the specifications stay for the next try.
  TZipArchiver unnamed;
  unnamed.FSpecArgs = {"a", "b"};
  {
    Watcher w({{vk::win::App().Title(), IDOK}});
    unnamed.Add();
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[0].text, "Error - no zip file specified");
  }
  EXPECT_EQ(unnamed.FSpecArgs.size(), 2u);
  EXPECT_EQ(g_zipSeen.calls, 1);
}

TEST_F(ZipArchiverFake, ThrowingHandlerStopsTheEngineAndIsReportedOnce) {
  g_work = [](auto, void*) { return 5; };
  NameMissingArchive();
  zip.FSpecArgs = {"a"};
  zip.Add();
  ASSERT_EQ(zip.DllResult(), 5);

  zip.OnProgress = [](ProgressType, const std::string&, int) { throw vk::Exception("boom"); };
  int32_t answer = 0;
  g_work = [&](vk::engine::Callback cb, void* caller) {
    answer = Call(cb, caller, 1, "a", 1);
    return 7;
  };
  Watcher w({{vk::win::App().Title(), IDOK}});
  zip.FSpecArgs = {"a"};
  zip.Add();
  ASSERT_TRUE(w.Done());
  EXPECT_EQ(w.Seen()[0].text, "Fatal DLL Error: abort exception");
  EXPECT_EQ(answer, -1);
  EXPECT_EQ(zip.DllResult(), 5);  // unchanged
  EXPECT_TRUE(zip.Aborted());
  EXPECT_TRUE(zip.FSpecArgs.empty());
  EXPECT_FALSE(zip.ZipBusy());

  zip.OnProgress = nullptr;
  zip.FSpecArgs = {"a"};
  zip.Add();
  EXPECT_FALSE(zip.Aborted());
  EXPECT_EQ(zip.DllResult(), 7);
}

// --- The directory reader ------------------------------------------------------------

class ZipDirReader : public ::testing::Test {
 protected:
  // Reads `bytes` as an archive; returns the error text, or "" for a clean read.
  std::string Read(const std::string& bytes) {
    vk::testing::WriteBytes(path, bytes);
    updates = 0;
    try {
      zip.SetZipFilename(path);
    } catch (const vk::EZipDirError& e) {
      return e.what();
    }
    return "";
  }

  void SetUp() override {
    zip.OnDirUpdate = [this] { ++updates; };
  }

  TempDir dir{"zipdir"};
  std::string path = dir / "a.zip";
  TZipArchiver zip;
  int updates = 0;
};

TEST_F(ZipDirReader, MissingFileGivesNoEntriesAndNoUpdate) {
  zip.SetZipFilename(dir / "none.zip");
  EXPECT_TRUE(zip.DirEntries().empty());
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(zip.ZipFilename(), dir / "none.zip");
}

TEST_F(ZipDirReader, ReadsEveryLocalHeader) {
  ZipBuilder b;
  b.AddStored("one.txt", "hello");
  b.Add({"sub/two.bin", std::string(1000, '\x7f'), vk::zip::kMethodStored, 0, 20, 0, false,
         std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9)});
  std::string longName = std::string(300, 'L') + ".txt";
  b.AddStored(longName, "");
  ASSERT_EQ(Read(b.Finish()), "");
  EXPECT_EQ(updates, 1);
  ASSERT_EQ(zip.DirEntries().size(), 3u);
  const auto& e = zip.DirEntries()[0];
  EXPECT_EQ(e.name, "one.txt");
  EXPECT_EQ(e.versionNeeded, 10);
  EXPECT_EQ(e.modTime, 0x6000);
  EXPECT_EQ(e.modDate, 0x5421);
  EXPECT_EQ(e.crc32, 0x3610A686u);  // CRC-32 of "hello"
  EXPECT_EQ(e.compressedSize, 5u);
  EXPECT_EQ(e.uncompressedSize, 5u);
  EXPECT_EQ(e.nameLength, 7);
  EXPECT_EQ(zip.DirEntries()[1].name, "sub/two.bin");
  EXPECT_EQ(zip.DirEntries()[1].extraLength, 9);
  EXPECT_EQ(zip.DirEntries()[2].name, longName);

  // A second read starts from an empty list.
  ASSERT_EQ(Read(b.Finish()), "");
  EXPECT_EQ(zip.DirEntries().size(), 3u);
}

TEST_F(ZipDirReader, Zip64SizesComeFromTheExtraField) {
  ZipBuilder b;
  b.Add({"big.dat", std::string(4099, 'b'), vk::zip::kMethodStored, 0, 20, 0, true});
  b.AddStored("after.txt", "x");
  ASSERT_EQ(Read(b.Finish()), "");
  ASSERT_EQ(zip.DirEntries().size(), 2u);
  EXPECT_EQ(zip.DirEntries()[0].compressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(zip.DirEntries()[0].compressedSize64, 4099u);
  EXPECT_EQ(zip.DirEntries()[0].uncompressedSize64, 4099u);
  EXPECT_EQ(zip.DirEntries()[1].name, "after.txt");
  EXPECT_EQ(updates, 1);
}

TEST_F(ZipDirReader, DamagedArchivesNameTheirError) {
  EXPECT_EQ(Read(""), "Error 1 reading Zip File");
  EXPECT_EQ(Read("PK"), "Error 1 reading Zip File");
  EXPECT_EQ(Read("This is a plain text file, no archive at all.\r\n"), "Error 1 reading Zip File");
  EXPECT_EQ(updates, 0);

  // Unknown data before the first header is passed over four bytes at a time.
  ZipBuilder b;
  b.AddStored("a.txt", "abc");
  EXPECT_EQ(Read("JUNK" + b.Finish()), "");
  EXPECT_EQ(zip.DirEntries().size(), 1u);

  // A compressed size that reaches into the last 22 bytes: the entry is kept.
  ZipBuilder big;
  big.AddStored("a.txt", "abc");
  std::string bytes = big.Finish();
  bytes[18] = 60;  // compressed size 60 instead of 3
  EXPECT_EQ(Read(bytes), "Error 3 reading Zip file");
  ASSERT_EQ(zip.DirEntries().size(), 1u);
  EXPECT_EQ(zip.DirEntries()[0].name, "a.txt");
  EXPECT_EQ(updates, 0);

  // A header cut inside its name.
  EXPECT_EQ(Read(bytes.substr(0, 32)), "Error 2 reading Zip file");
  EXPECT_TRUE(zip.DirEntries().empty());
}

TEST_F(ZipDirReader, EveryPrefixIsReadCleanlyOrRefused) {
  ZipBuilder b;
  b.AddStored("first.txt", "first file contents");
  b.Add({"dir/second", std::string(300, 's'), vk::zip::kMethodStored, 0, 20, 0, true});
  b.Add({std::string(260, 'n'), "x", vk::zip::kMethodStored, 0, 20, 0, false, std::string("\x0a\x00\x04\x00zzzz", 8)});
  const std::string whole = b.Finish();
  const std::set<std::string> known = {"Error 1 reading Zip File", "Error 2 reading Zip file",
                                       "Error 3 reading Zip file", "Error 4 reading Zip file",
                                       "Error 5 reading Zip file"};
  int clean = 0;
  for (size_t n = 0; n <= whole.size(); ++n) {
    std::string error = Read(whole.substr(0, n));
    if (error.empty()) {
      ++clean;
      EXPECT_EQ(updates, 1) << n;
    } else {
      EXPECT_TRUE(known.count(error)) << n << ": " << error;
      EXPECT_EQ(updates, 0) << n;
    }
    EXPECT_LE(zip.DirEntries().size(), 3u);
  }
  // Reads that reach the central directory's signature succeed.
  EXPECT_GT(clean, 0);
  EXPECT_EQ(Read(whole), "");
  EXPECT_EQ(zip.DirEntries().size(), 3u);
}

// --- With the real engine libraries ---------------------------------------------------

class ZipArchiverEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (vk::win::App().Title().empty()) vk::win::App().SetTitle("Vaultkin");
    CreateDirectoryA((src / "sub").c_str(), nullptr);
    vk::testing::WriteBytes(src / "a.txt", "0123456789");
    big = std::string(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
    vk::testing::WriteBytes(src / "big.bin", big);
    vk::testing::WriteBytes(src / "sub\\c.txt", "c");
    zip.OnProgress = [this](ProgressType t, const std::string& n, int s) {
      events.push_back({t, n, s});
    };
    zip.OnMessage = [this](int code, const std::string& m) { messages.push_back({code, m}); };
    zip.OnDirUpdate = [this] { ++updates; };
    zip.AddOptions = {vk::backup::AddDirNames};
    ASSERT_TRUE(SetCurrentDirectoryA(src.Path().c_str()));
  }
  void TearDown() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    SetCurrentDirectoryA(temp);
  }
  std::vector<std::string> Starts() const {
    std::vector<std::string> names;
    for (const Event& e : events)
      if (e.type == ProgressType::ptFileStart) names.push_back(e.name);
    return names;
  }
  int Count(ProgressType t) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [t](const Event& e) { return e.type == t; }));
  }

  TempDir src{"engsrc"};
  TempDir out{"engout"};
  std::string big;
  TZipArchiver zip;
  std::vector<Event> events;
  std::vector<std::pair<int, std::string>> messages;
  int updates = 0;
};

TEST_F(ZipArchiverEngine, AddAndExtractReportEveryFileInOrder) {
  zip.SetZipFilename(out / "t.zip");
  zip.FSpecArgs = {"a.txt", "big.bin", "sub\\c.txt"};
  zip.Add();
  EXPECT_EQ(zip.DllResult(), 3);
  EXPECT_TRUE(messages.empty());
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), (Event{ProgressType::ptFileStart, "a.txt", 10}));
  EXPECT_EQ(events.back().type, ProgressType::ptBatchEnd);
  EXPECT_EQ(Count(ProgressType::ptBatchEnd), 1);
  // The three files, then the read-back check of the archive.
  ASSERT_EQ(Starts().size(), 4u);
  EXPECT_EQ(Starts()[1], "big.bin");
  EXPECT_EQ(Starts()[3], vk::engine::kCheckLabel);
  EXPECT_NE(std::find(events.begin(), events.end(), Event{ProgressType::ptFileStart, "big.bin", 100000}),
            events.end());
  EXPECT_GE(Count(ProgressType::ptFileStep), 3);  // 100,000 bytes in 32 KiB steps
  // The directory was read after the add.
  EXPECT_EQ(updates, 1);
  ASSERT_EQ(zip.DirEntries().size(), 3u);
  EXPECT_EQ(zip.DirEntries()[2].name, "sub/c.txt");
  EXPECT_EQ(zip.DirEntries()[1].uncompressedSize, 100000u);

  events.clear();
  TempDir dest{"engdest"};
  zip.ExtrBaseDir = dest.Path();
  zip.ExtrOptions = {vk::backup::ExtrDirNames, vk::backup::ExtrOverWrite};
  zip.Extract();
  EXPECT_EQ(zip.DllResult(), 3);
  EXPECT_EQ(Starts().size(), 3u);
  EXPECT_EQ(events.back().type, ProgressType::ptBatchEnd);
  EXPECT_EQ(vk::testing::ReadBytes(dest / "big.bin"), big);
  EXPECT_EQ(vk::testing::ReadBytes(dest / "sub\\c.txt"), "c");
  EXPECT_TRUE(messages.empty());
}

TEST_F(ZipArchiverEngine, ProblemsArriveAsMessages) {
  zip.SetZipFilename(out / "t.zip");
  zip.FSpecArgs = {"a.txt", "fehlt.txt"};
  zip.Add();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].first, 0);
  EXPECT_NE(messages[0].second.find("fehlt.txt"), std::string::npos) << messages[0].second;
  EXPECT_NE(messages[0].second.back(), '\n');
  EXPECT_EQ(zip.DllResult(), 1);
  ASSERT_EQ(zip.DirEntries().size(), 1u);
}

TEST_F(ZipArchiverEngine, CancelStopsTheEngineAndTheNextCallStartsClean) {
  zip.OnProgress = [this](ProgressType t, const std::string& n, int s) {
    events.push_back({t, n, s});
    if (t == ProgressType::ptFileStart && Starts().size() == 2) zip.Cancel = true;
  };
  zip.SetZipFilename(out / "t.zip");
  zip.FSpecArgs = {"a.txt", "big.bin", "sub\\c.txt"};
  zip.Add();
  EXPECT_LT(zip.DllResult(), 0);
  EXPECT_EQ(Starts().size(), 2u);  // nothing after the answer
  EXPECT_FALSE(vk::testing::IsFile(out / "t.zip"));
  // What was complete is left for the caller to keep or drop.
  ASSERT_TRUE(vk::testing::IsFile(out / "t.zip.vkpart"));
  TZipArchiver part;
  part.SetZipFilename(out / "t.zip.vkpart");
  ASSERT_EQ(part.DirEntries().size(), 1u);
  EXPECT_EQ(part.DirEntries()[0].name, "a.txt");

  events.clear();
  zip.OnProgress = nullptr;
  zip.FSpecArgs = {"a.txt", "big.bin", "sub\\c.txt"};
  zip.Add();
  EXPECT_EQ(zip.DllResult(), 3);
  EXPECT_TRUE(vk::testing::IsFile(out / "t.zip"));
}

}  // namespace

namespace {

// A fault inside an engine, on the calling thread or on a worker, ends the call as an
// exception does: the box, the result of the call before kept, the archive as it was,
// no work file left, and the next call works.
TEST_F(ZipArchiverEngine, AFaultInsideAnEngineEndsTheCallWithTheBox) {
  const std::vector<std::string> files = {"a.txt", "big.bin", "sub\\c.txt"};
  zip.SetZipFilename(out / "t.zip");
  zip.FSpecArgs = files;
  zip.Add();
  ASSERT_EQ(zip.DllResult(), 3);
  TempDir dest{"engfault"};
  zip.ExtrBaseDir = dest.Path();
  zip.ExtrOptions = {vk::backup::ExtrDirNames, vk::backup::ExtrOverWrite};
  auto temporaries = [&] {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dest / "~vk*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
  };

  struct Case {
    bool packs;
    vk::engine::TestFault fault;
  };
  int round = 0;
  for (const Case& c : {Case{true, vk::engine::kAccessViolation}, Case{true, vk::engine::kWorkerAccessViolation},
                        Case{false, vk::engine::kAccessViolation}, Case{false, vk::engine::kWorkerAccessViolation}}) {
    SCOPED_TRACE(std::string(c.packs ? "add, fault " : "extract, fault ") + std::to_string(c.fault));
    vk::testing::WriteBytes(src / "a.txt", "round " + std::to_string(++round));  // a new archive would differ
    const std::string before = vk::testing::ReadBytes(out / "t.zip");
    auto call = [&] {
      zip.FSpecArgs = c.packs ? files : std::vector<std::string>{};
      c.packs ? zip.Add() : zip.Extract();
    };
    vk::testing::SetEngineFault(c.packs ? "VKZIP.DLL" : "VKUNZIP.DLL", c.fault);
    const int32_t result = zip.DllResult();
    {
      Watcher w({{vk::win::App().Title(), IDOK}});
      call();
      ASSERT_TRUE(w.Done());
      EXPECT_EQ(w.Seen()[0].text, "Fatal DLL Error: abort exception");
    }
    EXPECT_TRUE(zip.Aborted());
    EXPECT_EQ(zip.DllResult(), result);
    EXPECT_FALSE(zip.ZipBusy() || zip.UnzipBusy());
    EXPECT_EQ(vk::testing::ReadBytes(out / "t.zip"), before);
    EXPECT_FALSE(temporaries());

    call();
    EXPECT_FALSE(zip.Aborted());
    EXPECT_EQ(zip.DllResult(), 3);
    EXPECT_FALSE(vk::testing::IsFile(out / "t.zip.vktmp"));
    if (c.packs)
      EXPECT_TRUE(vk::testing::ReadBytes(out / "t.zip") != before) << "the archive was not replaced";
    else
      EXPECT_EQ(vk::testing::ReadBytes(dest / "a.txt"), "round 2");
  }
}

// The engine writes sizes of files near 4 GiB and beyond into a zip64 extra field of
// the local header; the directory reader must get past such an entry to the next.
TEST_F(ZipArchiverEngine, LongReadsTheEnginesZip64Entries) {
  const uint64_t size = 0x100000000ull + 12345;
  HANDLE h = CreateFileA((src / "huge.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h));
  CloseHandle(h);
  zip.AddCompLevel = 1;
  zip.SetZipFilename(out / "huge.zip");
  zip.FSpecArgs = {"huge.bin", "a.txt"};
  zip.Add();
  DeleteFileA((src / "huge.bin").c_str());
  ASSERT_EQ(zip.DllResult(), 2);
  EXPECT_EQ(updates, 1);
  ASSERT_EQ(zip.DirEntries().size(), 2u);
  EXPECT_EQ(zip.DirEntries()[0].uncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(zip.DirEntries()[0].uncompressedSize64, size);
  EXPECT_EQ(zip.DirEntries()[1].name, "a.txt");
}

}  // namespace
