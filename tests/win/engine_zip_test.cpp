// VKZIP.DLL called through its command record, as the archive component calls it.
#include <algorithm>
#include <stdexcept>

#include "engine_test_util.h"

using namespace enginetest;
namespace zip = vk::zip;

namespace {

class EngineZip : public EngineDirTest {};

SYSTEMTIME LocalTimeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  FILETIME local;
  SYSTEMTIME st;
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToSystemTime(&local, &st);
  return st;
}

}  // namespace

TEST_F(EngineZip, PacksRelativeNamesAndReportsEveryFile) {
  WriteBytes("a.txt", "alpha");
  WriteBytes("sub\\b.txt", Text(100000));
  WriteBytes("sub\\deep\\c.bin", Random(70000));
  WriteBytes("sub\\empty", "");
  Recorder r;
  const int32_t result = Zip("out.zip", {"a.txt", "sub\\b.txt", "sub\\deep\\c.bin", "sub\\empty"}, r);
  EXPECT_EQ(result, 4) << r.AllMessages();
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"a.txt", "sub/b.txt", "sub/deep/c.bin", "sub/empty"}));
  EXPECT_EQ(r.events[0].size, 5);
  // One step per 32 KiB done: 100000 -> 3, 70000 -> 2, and the read-back check of
  // all 170005 -> 5, however much of it was done while the files were packed.
  EXPECT_EQ(r.Count(kProgressStep), 3 + 2 + 5);
  EXPECT_EQ(r.Count(kBatchEnd), 1);
  EXPECT_EQ(r.events.back().action, kBatchEnd);
  EXPECT_EQ(r.Count(kMessage), 0);

  ReadBack z("out.zip");
  ASSERT_EQ(z.Names(), (std::vector<std::string>{"a.txt", "sub/b.txt", "sub/deep/c.bin", "sub/empty"}));
  EXPECT_EQ(z.Data("sub/b.txt"), Text(100000));
  EXPECT_EQ(z.Data("sub/deep/c.bin"), Random(70000));
  EXPECT_EQ(z.Find("sub/b.txt")->method, zip::kMethodDeflated);
  EXPECT_LT(z.Find("sub/b.txt")->compressedSize, 30000u);
  // Random data does not shrink: stored; so is the empty file.
  EXPECT_EQ(z.Find("sub/deep/c.bin")->method, zip::kMethodStored);
  EXPECT_EQ(z.Find("sub/empty")->method, zip::kMethodStored);
  // Sizes and CRC in the local headers, no data descriptors.
  for (const auto& e : z.dir.entries) {
    const auto local = zip::ParseLocalHeader(reinterpret_cast<const uint8_t*>(z.bytes.data()) + e.localOffset,
                                             zip::kLocalHeaderSize);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->flags & zip::kFlagDataDescriptor, 0);
    EXPECT_EQ(local->crc, e.crc);
    EXPECT_EQ(local->compressedSize, e.compressedSize);
    EXPECT_EQ(local->uncompressedSize, e.uncompressedSize);
  }
  // The DOS time is the file's last write time, local, in two-second steps.
  const SYSTEMTIME st = LocalTimeOf("sub\\b.txt");
  const zip::CivilTime t = zip::FromDosDateTime(z.Find("sub/b.txt")->modified);
  EXPECT_EQ(t.year, st.wYear);
  EXPECT_EQ(t.day, st.wDay);
  EXPECT_EQ(t.hour, st.wHour);
  EXPECT_EQ(t.minute, st.wMinute);
  EXPECT_EQ(t.second, st.wSecond / 2 * 2);
  EXPECT_TRUE(Find("*.vktmp").empty());
}

TEST_F(EngineZip, LevelZeroStoresAndStrippedDirectories) {
  WriteBytes("d\\one.txt", Text(50000));
  WriteBytes("e\\two.txt", Text(60000, 2));
  Recorder r;
  EXPECT_EQ(Zip("s.zip", {"d\\one.txt", "e\\two.txt"}, r, {0, /*keepDirs=*/false, false}), 2);
  ReadBack z("s.zip");
  EXPECT_EQ(z.Names(), (std::vector<std::string>{"one.txt", "two.txt"}));
  for (const auto& e : z.dir.entries) EXPECT_EQ(e.method, zip::kMethodStored);
  EXPECT_EQ(z.Data("two.txt"), Text(60000, 2));
}

TEST_F(EngineZip, ProblemsAreReportedAndTheRestGoesIn) {
  WriteBytes("here.txt", "here");
  WriteBytes("also.txt", "also");
  CreateDirectoryA("folder", nullptr);
  Recorder r;
  EXPECT_EQ(Zip("p.zip", {"missing.txt", "here.txt", "folder", "HERE.TXT", "also.txt"}, r), 2);
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"here.txt", "also.txt"}));
  const auto m = r.Messages();
  ASSERT_EQ(m.size(), 3u) << r.AllMessages();
  EXPECT_EQ(m[0].code, kErrFileNotFound);
  EXPECT_NE(m[0].text.find("\"missing.txt\""), std::string::npos);
  EXPECT_EQ(m[1].code, kErrFileSkipped);  // a directory without recursion
  EXPECT_NE(m[1].text.find("\"folder\""), std::string::npos);
  EXPECT_EQ(m[2].code, kErrFileSkipped);  // the same name again, other case
  EXPECT_EQ(ReadBack("p.zip").Names(), (std::vector<std::string>{"here.txt", "also.txt"}));

  // Nothing that exists: no archive, result 0.
  Recorder none;
  EXPECT_EQ(Zip("none.zip", {"nothing.txt"}, none), 0);
  EXPECT_FALSE(Exists("none.zip"));
  EXPECT_EQ(none.Count(kBatchEnd), 1);
}

TEST_F(EngineZip, WildcardsAndRecursion) {
  WriteBytes("D\\a.txt", "a");
  WriteBytes("D\\b.ini", "b");
  WriteBytes("D\\noext", "n");
  WriteBytes("D\\S\\c.txt", "c");
  WriteBytes("D\\S\\T\\d.txt", "d");
  Recorder flat;
  EXPECT_EQ(Zip("flat.zip", {"D\\*.*"}, flat), 3);
  EXPECT_EQ(ReadBack("flat.zip").Names(), (std::vector<std::string>{"D/a.txt", "D/b.ini", "D/noext"}));
  Recorder deep;
  EXPECT_EQ(Zip("deep.zip", {"D\\*.txt"}, deep, {9, true, /*recurse=*/true}), 3);
  EXPECT_EQ(ReadBack("deep.zip").Names(), (std::vector<std::string>{"D/a.txt", "D/S/c.txt", "D/S/T/d.txt"}));
  Recorder dir;
  EXPECT_EQ(Zip("dir.zip", {"D"}, dir, {9, true, true}), 5);
  // The archive itself lies in the directory being packed and is left out.
  Recorder self;
  EXPECT_EQ(Zip("self.zip", {"*"}, self, {9, true, true}), 5 + 3);
  for (const auto& name : ReadBack("self.zip").Names()) EXPECT_EQ(name.find("self.zip"), std::string::npos);
}

TEST_F(EngineZip, NamesBeyondAsciiAreUtf8WithBit11) {
  WriteBytes("M\xFCller.txt", "umlaut");  // "Müller.txt" in CP1252
  WriteBytes("plain.txt", "plain");
  Recorder r;
  EXPECT_EQ(Zip("n.zip", {"M\xFCller.txt", "plain.txt"}, r), 2);
  EXPECT_EQ(r.Files()[0], "M\xFCller.txt");  // the callback speaks ANSI
  ReadBack z("n.zip");
  const auto* umlaut = z.Find("M\xC3\xBCller.txt");
  ASSERT_NE(umlaut, nullptr);
  EXPECT_TRUE(umlaut->flags & zip::kFlagUtf8);
  EXPECT_FALSE(z.Find("plain.txt")->flags & zip::kFlagUtf8);
}

TEST_F(EngineZip, ManySpecificationsAndLongNames) {
  // More than the record's 4,097 slots, and names of 256 characters and more.
  std::vector<std::string> specs;
  for (int i = 0; i < 4200; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    WriteBytes(name, std::to_string(i));
    specs.push_back(name);
  }
  const std::string longDir = std::string(120, 'd') + "\\" + std::string(120, 'e');
  const std::string longName = longDir + "\\" + std::string(100, 'n') + ".txt";
  ASSERT_GE(longName.size(), 256u);
  CreateDirectoryA(std::string(120, 'd').c_str(), nullptr);
  CreateDirectoryA(longDir.c_str(), nullptr);
  {
    // Beyond MAX_PATH the A functions fail; the test writes it the wide way.
    wchar_t full[32768];
    const std::wstring wide(longName.begin(), longName.end());
    GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    HANDLE h = CreateFileW((L"\\\\?\\" + std::wstring(full)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n;
    WriteFile(h, "long", 4, &n, nullptr);
    CloseHandle(h);
  }
  specs.push_back(longName);
  Recorder r;
  EXPECT_EQ(Zip("many.zip", specs, r), 4201) << r.AllMessages();
  ReadBack z("many.zip");
  ASSERT_EQ(z.dir.entries.size(), 4201u);
  std::string stored = longName;
  std::replace(stored.begin(), stored.end(), '\\', '/');
  EXPECT_EQ(z.Data(stored), "long");
  EXPECT_EQ(z.Data("f4199.txt"), "4199");
}

TEST_F(EngineZip, CallbacksOnTheCallingThreadInFileOrder) {
  // Small files, whole files of over a MiB and one in pieces (beyond 2 MiB) mixed,
  // so that workers finish out of order.
  auto sizeOf = [](size_t i) -> size_t {
    return i == 14 ? 9'000'000 + i : i % 7 == 0 ? 1'500'000 + i : 100 + 997 * i;
  };
  std::vector<std::string> specs;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "file" + std::to_string(i);
    WriteBytes(name, Text(sizeOf(i), i));
    specs.push_back(name);
  }
  Recorder r;
  EXPECT_EQ(Zip("order.zip", specs, r), 40);
  EXPECT_EQ(r.Files(), specs);
  for (const auto& e : r.events) EXPECT_EQ(e.thread, GetCurrentThreadId());
  // Every file's steps come between its own start and the next file's.
  size_t file = 0;
  int steps = 0;
  for (const auto& e : r.events) {
    if (e.action == kFileBegins) {
      if (file > 0) {
        EXPECT_EQ(steps, static_cast<int>(sizeOf(file - 1) / kProgressStepBytes)) << file;
      }
      ++file;
      steps = 0;
    } else if (e.action == kProgressStep) {
      ++steps;
    }
  }
  ReadBack z("order.zip");
  for (int i = 0; i < 40; i += 7) EXPECT_EQ(z.Data("file" + std::to_string(i)), Text(sizeOf(i), i));
}

TEST_F(EngineZip, CancelStopsAtOnceAndLeavesTheFinishedFilesAsPart) {
  // The previous archive holds one entry; the add is cancelled at the third file.
  WriteBytes("keep.txt", "kept");
  Recorder first;
  ASSERT_EQ(Zip("arc.zip", {"keep.txt"}, first), 1);
  const std::string before = ReadBytes("arc.zip");
  std::vector<std::string> specs;
  for (int i = 0; i < 6; ++i) {
    specs.push_back("n" + std::to_string(i) + ".txt");
    WriteBytes(specs.back(), Text(200000, i));
  }
  Recorder r;
  r.stopAt = [](const Event& e, const Recorder& rec) { return e.action == kFileBegins && rec.Count(kFileBegins) == 3; };
  EXPECT_EQ(Zip("arc.zip", specs, r), kResultCancelled);
  ASSERT_TRUE(r.stopped);
  EXPECT_EQ(r.events.back().action, kFileBegins);  // nothing after the -1
  EXPECT_EQ(r.Count(kBatchEnd), 0);
  EXPECT_EQ(ReadBytes("arc.zip"), before);
  EXPECT_TRUE(Find("*.vktmp").empty());
  ReadBack part("arc.zip.vkpart");
  EXPECT_EQ(part.Names(), (std::vector<std::string>{"keep.txt", "n0.txt", "n1.txt"}));
  EXPECT_EQ(part.Data("n1.txt"), Text(200000, 1));

  // A cancel in the middle of a large file's steps drops that file.
  WriteBytes("big.bin", Text(5'000'000));
  Recorder mid;
  mid.stopAt = [](const Event& e, const Recorder& rec) { return rec.Count(kProgressStep) == 20; };
  EXPECT_EQ(Zip("mid.zip", {"keep.txt", "big.bin"}, mid), kResultCancelled);
  EXPECT_EQ(ReadBack("mid.zip.vkpart").Names(), std::vector<std::string>{"keep.txt"});
  EXPECT_FALSE(Exists("mid.zip"));

  // The read-back check comes after the last file, announced with the size of all
  // data, and moves in steps; a stop there keeps no unchecked archive.
  Recorder check;
  check.stopAt = [](const Event& e, const Recorder& rec) {
    return e.action == kProgressStep && rec.Count(kFileBegins) == 3 &&
           rec.Files().size() == 2;
  };
  EXPECT_EQ(Zip("check.zip", {"keep.txt", "big.bin"}, check), kResultCancelled);
  const auto begins = std::find_if(check.events.begin(), check.events.end(),
                                   [](const Event& e) { return e.action == kFileBegins && e.text == kCheckLabel; });
  ASSERT_NE(begins, check.events.end());
  EXPECT_EQ(begins->size, 5'000'000 + 4);
  EXPECT_EQ(check.events.back().action, kProgressStep);
  EXPECT_FALSE(Exists("check.zip"));
  EXPECT_FALSE(Exists("check.zip.vkpart"));
  EXPECT_TRUE(Find("*.vktmp").empty());
}

TEST_F(EngineZip, ALongListKeepsItsOrderAndStopsAtItsFirstEvent) {
  // Hundreds of names, looked up while the first files are packed: the archive keeps
  // their order, and a stop at the call's first event packs nothing.
  std::vector<std::string> specs;
  for (int i = 0; i < 600; ++i) {
    specs.push_back("f" + std::to_string(i));
    WriteBytes(specs.back(), "x");
  }
  Recorder all;
  ASSERT_EQ(Zip("all.zip", specs, all), 600) << all.AllMessages();
  EXPECT_EQ(ReadBack("all.zip").Names(), specs);

  Recorder r;
  r.stopAt = [](const Event&, const Recorder&) { return true; };
  EXPECT_EQ(Zip("stop.zip", specs, r), kResultCancelled);
  EXPECT_EQ(r.events.size(), 1u);
  EXPECT_FALSE(Exists("stop.zip"));
}

TEST_F(EngineZip, FailuresLeaveThePreviousArchiveAndNoTemporaryFile) {
  WriteBytes("x.txt", "x");
  // A leftover of a killed run is cleared away.
  WriteBytes("a.zip.vktmp", "half an archive");
  Recorder ok;
  EXPECT_EQ(Zip("a.zip", {"x.txt"}, ok), 1);
  EXPECT_FALSE(Exists("a.zip.vktmp"));

  // The archive cannot be written where it is named.
  Recorder nowhere;
  EXPECT_EQ(Zip("no\\such\\dir\\b.zip", {"x.txt"}, nowhere), kResultFailed);
  ASSERT_EQ(nowhere.Messages().size(), 1u);
  EXPECT_EQ(nowhere.Messages()[0].code, kErrArchiveWrite);

  // An existing file that is no archive is not replaced.
  WriteBytes("c.zip", "not a zip at all");
  Recorder damaged;
  EXPECT_EQ(Zip("c.zip", {"x.txt"}, damaged), kResultFailed);
  EXPECT_EQ(ReadBytes("c.zip"), "not a zip at all");
  ASSERT_FALSE(damaged.Messages().empty());
  EXPECT_EQ(damaged.Messages()[0].code, kErrArchiveRead);
  EXPECT_NE(damaged.Messages()[0].text.find("\"c.zip\""), std::string::npos);

  // The target is a directory: the finished archive cannot take its place.
  CreateDirectoryA("d.zip", nullptr);
  Recorder blocked;
  EXPECT_EQ(Zip("d.zip", {"x.txt"}, blocked), kResultFailed);
  EXPECT_TRUE(GetFileAttributesA("d.zip") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(Find("*.vktmp").empty());
}

TEST_F(EngineZip, AddingToAnArchiveReplacesSameNamesAndKeepsTheOthers) {
  WriteBytes("a.txt", "old a");
  WriteBytes("b.txt", "old b");
  Recorder first;
  ASSERT_EQ(Zip("m.zip", {"a.txt", "b.txt"}, first), 2);
  WriteBytes("a.txt", "new a");
  WriteBytes("c.txt", "new c");
  Recorder second;
  EXPECT_EQ(Zip("m.zip", {"A.TXT", "c.txt"}, second), 2);
  ReadBack z("m.zip");
  EXPECT_EQ(z.Names(), (std::vector<std::string>{"b.txt", "A.TXT", "c.txt"}));
  EXPECT_EQ(z.Data("b.txt"), "old b");
  EXPECT_EQ(z.Data("A.TXT"), "new a");
}

TEST_F(EngineZip, AnExceptionFromTheCallbackReachesTheCaller) {
  WriteBytes("x.txt", Text(100000));
  Recorder r;
  r.stopAt = [](const Event& e, const Recorder&) -> bool {
    if (e.action == kProgressStep) throw std::runtime_error("handler failed");
    return false;
  };
  EXPECT_THROW(Zip("e.zip", {"x.txt"}, r), std::runtime_error);
  EXPECT_FALSE(Exists("e.zip"));
  EXPECT_TRUE(Find("*.vktmp").empty());
}
