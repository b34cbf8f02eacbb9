// VKUNZIP.DLL called through its command record, as the archive component calls it.
#include <algorithm>

#include "engine_test_util.h"
#include "win/handles.h"

using namespace enginetest;
namespace zip = vk::zip;

namespace {

class EngineUnzip : public EngineDirTest {
 protected:
  // Packs a small tree with the engine and moves into an empty "out" directory.
  void PackSample() {
    WriteBytes("src\\top.txt", Text(1000));
    WriteBytes("src\\dir\\big.txt", Text(300000, 3));
    WriteBytes("src\\dir\\sub\\rand.bin", Random(100000));
    WriteBytes("src\\dir\\sub\\M\xFCller.txt", "umlaut");
    SetCurrentDirectoryA("src");
    Recorder r;
    ASSERT_EQ(Zip("..\\sample.zip", {"top.txt", "dir\\big.txt", "dir\\sub\\rand.bin", "dir\\sub\\M\xFCller.txt"}, r), 4);
    SetCurrentDirectoryA("..");
    CreateDirectoryA("out", nullptr);
    SetCurrentDirectoryA("out");
  }

  void WriteArchive(const std::string& path, const ZipBuilder& a) { WriteBytes(path, a.Finish()); }
};

FILETIME WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

}  // namespace

TEST_F(EngineUnzip, ExtractsEverythingWithDirectoriesAndTimes) {
  PackSample();
  Recorder r;
  EXPECT_EQ(Unzip("..\\sample.zip", {}, r), 4) << r.AllMessages();
  EXPECT_EQ(ReadBytes("top.txt"), Text(1000));
  EXPECT_EQ(ReadBytes("dir\\big.txt"), Text(300000, 3));
  EXPECT_EQ(ReadBytes("dir\\sub\\rand.bin"), Random(100000));
  EXPECT_EQ(ReadBytes("dir\\sub\\M\xFCller.txt"), "umlaut");
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"top.txt", "dir/big.txt", "dir/sub/rand.bin",
                                                 "dir/sub/M\xFCller.txt"}));
  EXPECT_EQ(r.Count(kProgressStep), 300000 / 32768 + 100000 / 32768);
  EXPECT_EQ(r.events.back().action, kBatchEnd);
  for (const auto& e : r.events) EXPECT_EQ(e.thread, GetCurrentThreadId());
  // The modification time comes from the entry (two-second steps).
  const FILETIME source = WriteTime("..\\src\\dir\\big.txt");
  const FILETIME extracted = WriteTime("dir\\big.txt");
  const auto ticks = [](FILETIME f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  EXPECT_LE(ticks(source) - ticks(extracted), 20'000'000u);
  EXPECT_TRUE(Find("~vk*").empty());
  EXPECT_TRUE(Find("dir\\sub\\~vk*").empty());
}

TEST_F(EngineUnzip, SelectionFlatteningAndUnmatchedSpecifications) {
  PackSample();
  Recorder r;
  EXPECT_EQ(Unzip("..\\sample.zip", {"dir\\*.txt", "nowhere.txt"}, r, {/*keepDirs=*/false, true}), 2);
  EXPECT_EQ(ReadBytes("big.txt"), Text(300000, 3));
  EXPECT_EQ(ReadBytes("M\xFCller.txt"), "umlaut");
  EXPECT_FALSE(Exists("dir"));
  EXPECT_FALSE(Exists("top.txt"));
  ASSERT_EQ(r.Messages().size(), 1u);
  EXPECT_EQ(r.Messages()[0].code, kErrNotInArchive);
  EXPECT_NE(r.Messages()[0].text.find("\"nowhere.txt\""), std::string::npos);
}

TEST_F(EngineUnzip, OverwritesOnlyWhenAsked) {
  PackSample();
  WriteBytes("top.txt", "mine");
  Recorder keep;
  EXPECT_EQ(Unzip("..\\sample.zip", {"top.txt"}, keep, {true, /*overwrite=*/false}), kResultFailed);
  EXPECT_EQ(ReadBytes("top.txt"), "mine");
  ASSERT_EQ(keep.Messages().size(), 1u);
  EXPECT_EQ(keep.Messages()[0].code, kErrFileExists);
  // Overwriting replaces a read-only file as well.
  SetFileAttributesA("top.txt", FILE_ATTRIBUTE_READONLY);
  Recorder over;
  EXPECT_EQ(Unzip("..\\sample.zip", {"top.txt"}, over), 1) << over.AllMessages();
  EXPECT_EQ(ReadBytes("top.txt"), Text(1000));
  EXPECT_TRUE(Find("~vk*").empty());
}

// A restore over an intact installation: what is already as in the archive stays the
// same file, even one held open, and only takes the entry's time; a file of the same
// size that differs near its end is replaced. The progress steps are those of a
// plain extraction.
TEST_F(EngineUnzip, AFileAlreadyAsInTheArchiveStaysInPlace) {
  PackSample();
  Recorder first;
  ASSERT_EQ(Unzip("..\\sample.zip", {}, first), 4) << first.AllMessages();
  const FILETIME entryTime = WriteTime("dir\\big.txt");
  const auto fileIndex = [](const char* path) {
    vk::win::ScopedHandle h(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(h.Get(), &info);
    return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  };
  const uint64_t bigIndex = fileIndex("dir\\big.txt");
  {
    vk::win::ScopedHandle big(CreateFileA("dir\\big.txt", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    const FILETIME old = {0, 30000000};
    ASSERT_TRUE(SetFileTime(big.Get(), nullptr, nullptr, &old));
  }
  std::string changed = Random(100000);
  changed[99990] ^= 1;
  WriteBytes("dir\\sub\\rand.bin", changed);
  vk::win::ScopedHandle held(CreateFileA("top.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
  Recorder again;
  EXPECT_EQ(Unzip("..\\sample.zip", {}, again), 4) << again.AllMessages();
  EXPECT_EQ(fileIndex("dir\\big.txt"), bigIndex);
  const FILETIME bigTime = WriteTime("dir\\big.txt");
  EXPECT_EQ(CompareFileTime(&entryTime, &bigTime), 0);
  EXPECT_EQ(ReadBytes("dir\\sub\\rand.bin"), Random(100000));
  EXPECT_EQ(ReadBytes("top.txt"), Text(1000));
  EXPECT_EQ(again.Count(kProgressStep), first.Count(kProgressStep));
  EXPECT_TRUE(Find("~vk*").empty());
  EXPECT_TRUE(Find("dir\\sub\\~vk*").empty());
}

TEST_F(EngineUnzip, HostileNamesAreRefusedAndNothingLeavesTheDirectory) {
  ZipBuilder a;
  const std::vector<std::string> hostile = {"../x",  "C:\\x", "\\\\server\\x", "a/../../x", "CON",
                                            "/abs", "ok:stream", "nul.txt", "dir./y", "tab\there"};
  for (const auto& name : hostile) a.Add({name, "evil"});
  a.Add({"good/ok.txt", "fine"});
  CreateDirectoryA("inner", nullptr);
  WriteArchive("inner\\h.zip", a);
  SetCurrentDirectoryA("inner");
  Recorder r;
  EXPECT_EQ(Unzip("h.zip", {}, r), 1);
  EXPECT_EQ(ReadBytes("good\\ok.txt"), "fine");
  EXPECT_EQ(r.Files(), std::vector<std::string>{"good/ok.txt"});
  const auto m = r.Messages();
  ASSERT_EQ(m.size(), hostile.size()) << r.AllMessages();
  for (size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].code, kErrEntryRefused);
    EXPECT_NE(m[i].text.find("wird nicht entpackt"), std::string::npos) << m[i].text;
  }
  // Nothing beside what is expected, here or one level up.
  std::vector<std::string> here = Find("*");
  std::sort(here.begin(), here.end());
  EXPECT_EQ(here, (std::vector<std::string>{"good", "h.zip"}));
  EXPECT_EQ(Find("..\\*"), std::vector<std::string>{"inner"});
}

TEST_F(EngineUnzip, DuplicatesOverlapsLinksAndBombsAreRefused) {
  ZipBuilder a;
  a.Add({"same.txt", "first"});
  a.Add({"SAME.TXT", "second"});
  zip::Entry& link = a.AddStored("link", "/etc/passwd");
  link.versionMadeBy = (3 << 8) | 20;
  link.externalAttributes = 0120777u << 16;
  a.Add({"bomb.txt", std::string(1 << 20, 'z')}).uncompressedSize = 1000;  // inflates beyond its size
  zip::Entry copy = a.entries[0];  // a second entry over the first one's bytes
  copy.name = "overlap.txt";
  a.entries.push_back(copy);
  WriteArchive("x.zip", a);
  Recorder r;
  EXPECT_EQ(Unzip("x.zip", {}, r), kResultFailed);
  EXPECT_FALSE(Exists("same.txt"));  // overlapping data: the first is refused too
  EXPECT_FALSE(Exists("link"));
  EXPECT_FALSE(Exists("bomb.txt"));
  EXPECT_FALSE(Exists("overlap.txt"));
  const auto m = r.Messages();
  ASSERT_EQ(m.size(), 5u) << r.AllMessages();
  EXPECT_EQ(m[0].code, kErrEntryRefused);  // same.txt: overlap
  EXPECT_EQ(m[1].code, kErrEntryRefused);  // SAME.TXT: duplicate
  EXPECT_EQ(m[2].code, kErrEntryRefused);  // link
  EXPECT_EQ(m[3].code, kErrEntryDamaged);  // bomb: beyond its declared size
  EXPECT_NE(m[3].text.find("\"bomb.txt\""), std::string::npos);
  EXPECT_TRUE(Find("~vk*").empty());
}

TEST_F(EngineUnzip, ADamagedEntryNeverReplacesAGoodFile) {
  ZipBuilder a;
  a.Add({"f.txt", Text(200000)});
  a.Add({"g.txt", "good"});
  std::string bytes = a.Finish();
  bytes[a.entries[0].localOffset + zip::kLocalHeaderSize + 5 + 2000] ^= 0x5A;  // inside f.txt's data
  WriteBytes("d.zip", bytes);
  WriteBytes("f.txt", "the good old file");
  Recorder r;
  EXPECT_EQ(Unzip("d.zip", {}, r), 1);
  EXPECT_EQ(ReadBytes("f.txt"), "the good old file");
  EXPECT_EQ(ReadBytes("g.txt"), "good");
  ASSERT_EQ(r.Messages().size(), 1u);
  EXPECT_EQ(r.Messages()[0].code, kErrEntryDamaged);
  EXPECT_NE(r.Messages()[0].text.find("\"f.txt\""), std::string::npos);
  EXPECT_TRUE(Find("~vk*").empty());
}

TEST_F(EngineUnzip, ADamagedEntryToANewTargetLeavesNoFile) {
  // Targets that do not exist are written under their own names: whatever fails
  // the check must be gone again, and an existing (even read-only) file must not
  // be touched.
  ZipBuilder a;
  a.Add({"bits.txt", Text(200000)});
  a.AddStored("crc.bin", Random(70000)).crc ^= 1;
  a.Add({"short.txt", Text(5000)}).uncompressedSize += 1;
  a.Add({"long.txt", Text(5000)}).uncompressedSize -= 1;
  a.Add({"kept.txt", Text(3000)}).crc ^= 0x80000000u;
  a.Add({"fine.txt", "fine"});
  std::string bytes = a.Finish();
  bytes[a.entries[0].localOffset + zip::kLocalHeaderSize + 8 + 3000] ^= 0x33;
  WriteBytes("d.zip", bytes);
  WriteBytes("kept.txt", "old");
  SetFileAttributesA("kept.txt", FILE_ATTRIBUTE_READONLY);
  Recorder r;
  EXPECT_EQ(Unzip("d.zip", {}, r), 1) << r.AllMessages();
  EXPECT_EQ(ReadBytes("fine.txt"), "fine");
  EXPECT_EQ(ReadBytes("kept.txt"), "old");
  for (const char* gone : {"bits.txt", "crc.bin", "short.txt", "long.txt"})
    EXPECT_EQ(GetFileAttributesA(gone), INVALID_FILE_ATTRIBUTES) << gone;
  ASSERT_EQ(r.Messages().size(), 5u) << r.AllMessages();
  for (const auto& m : r.Messages()) EXPECT_EQ(m.code, kErrEntryDamaged) << m.text;
  EXPECT_TRUE(Find("~vk*").empty());
  SetFileAttributesA("kept.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(EngineUnzip, WhatIsInTheWayOfANewFileStays) {
  ZipBuilder a;
  a.Add({"taken", "data"});
  a.Add({"free.txt", "free"});
  WriteArchive("w.zip", a);
  CreateDirectoryA("taken", nullptr);
  WriteBytes("taken\\inside.txt", "inside");
  for (bool overwrite : {false, true}) {
    Recorder r;
    EXPECT_EQ(Unzip("w.zip", {}, r, {true, overwrite}), 1) << overwrite << r.AllMessages();
    ASSERT_EQ(r.Messages().size(), 1u) << overwrite;
    EXPECT_NE(r.Messages()[0].text.find("taken"), std::string::npos);
    EXPECT_EQ(ReadBytes("taken\\inside.txt"), "inside");
    EXPECT_EQ(ReadBytes("free.txt"), "free");
    EXPECT_TRUE(Find("~vk*").empty());
  }
}

// Each folder is made or looked up once, parents of nested ones included; after a
// killed run, one that stood before is still cleared of its temporary files, even
// when it is first met as the parent of a new folder, and the killed run's mark
// goes; new folders get every file.
TEST_F(EngineUnzip, FoldersAreMadeOnceAndOldOnesClearedOfKilledRunsFiles) {
  ZipBuilder a;
  a.Add({"old/new/deep/a.txt", "a"});
  a.Add({"old/new/b.txt", "b"});
  a.Add({"old/c.txt", "c"});
  a.Add({"fresh/x/y.txt", "y"});
  a.Add({"fresh/z.txt", "z"});
  WriteArchive("d.zip", a);
  // What a killed extraction leaves: its mark in the base folder, and a temporary file.
  WriteBytes("~vkunzip.run", "");
  WriteBytes("old\\~vk0000000100000002.tmp", "killed");
  WriteBytes("old\\~vk00000001000000zz.tmp", "not ours");
  Recorder r;
  EXPECT_EQ(Unzip("d.zip", {}, r), 5) << r.AllMessages();
  for (const char* name : {"old\\new\\deep\\a.txt", "old\\new\\b.txt", "old\\c.txt", "fresh\\x\\y.txt", "fresh\\z.txt"})
    EXPECT_EQ(ReadBytes(name).size(), 1u) << name;
  EXPECT_EQ(Find("old\\~vk*"), std::vector<std::string>{"~vk00000001000000zz.tmp"});
  EXPECT_TRUE(Find("~vk*").empty());
}

TEST_F(EngineUnzip, EveryTruncatedPrefixIsRefusedCleanly) {
  ZipBuilder a;
  a.Add({"one.txt", Text(3000)});
  a.Add({"d/two.txt", "two"});
  const std::string bytes = a.Finish();
  CreateDirectoryA("t", nullptr);
  SetCurrentDirectoryA("t");
  for (size_t n = 0; n < bytes.size(); ++n) {
    WriteBytes("..\\p.zip", bytes.substr(0, n));
    Recorder r;
    ASSERT_EQ(Unzip("..\\p.zip", {}, r), kResultFailed) << n;
    ASSERT_EQ(r.Messages().size(), 1u) << n;
    EXPECT_EQ(r.Messages()[0].code, kErrArchiveRead);
    EXPECT_NE(r.Messages()[0].text.find("\"..\\p.zip\""), std::string::npos);
    ASSERT_TRUE(Find("*").empty()) << n;
  }
  Recorder missing;
  EXPECT_EQ(Unzip("..\\nothing.zip", {}, missing), kResultFailed);
  EXPECT_EQ(missing.Messages().size(), 1u);
}

TEST_F(EngineUnzip, NamesWithoutBit11AreInTheSystemsOemCodePage) {
  ZipBuilder a;
  a.Add({"M\x81ller.txt", "oem"});            // 0x81 is "ü" in 437 and 850
  a.Add({"K\x9Bge.txt", "oem2"});             // 0x9B: "ø" in 850, "¢" in 437
  a.Add({"Gr\xC3\xB6\xC3\x9F" "e.txt", "utf8"}).flags = zip::kFlagUtf8;  // "Größe.txt"
  WriteArchive("n.zip", a);
  Recorder r;
  EXPECT_EQ(Unzip("n.zip", {}, r), 3) << r.AllMessages();
  const std::string oemName = GetOEMCP() == 850 ? "K\xF8ge.txt" : "K\xA2ge.txt";
  EXPECT_EQ(ReadBytes("M\xFCller.txt"), "oem");
  EXPECT_EQ(ReadBytes(oemName), "oem2");
  EXPECT_EQ(ReadBytes("Gr\xF6\xDF" "e.txt"), "utf8");
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"M\xFCller.txt", oemName, "Gr\xF6\xDF" "e.txt"}));
}

TEST_F(EngineUnzip, DuplicatesFoldCaseAsTheSystemDoes) {
  ZipBuilder a;
  // Vietnamese, full-width, Latin Extended-B and Armenian pairs: one file each.
  for (const char* name : {"\xE1\xBA\xA0.txt", "\xE1\xBA\xA1.txt", "\xEF\xBC\xA1", "\xEF\xBD\x81",
                           "\xC6\x82", "\xC6\x83", "\xD4\xB1", "\xD5\xA1"})
    a.Add({name, name}).flags = zip::kFlagUtf8;
  WriteArchive("d.zip", a);
  Recorder r;
  EXPECT_EQ(Unzip("d.zip", {}, r), 4) << r.AllMessages();
  const auto m = r.Messages();
  ASSERT_EQ(m.size(), 4u) << r.AllMessages();
  for (const auto& message : m) EXPECT_EQ(message.code, kErrEntryRefused);
  EXPECT_EQ(Find("*").size(), 5u);  // the four first ones and the archive
}

TEST_F(EngineUnzip, CancelStopsAtOnceAndLeavesNoTemporaryFiles) {
  ZipBuilder a;
  for (int i = 0; i < 30; ++i) a.Add({"f" + std::to_string(i) + ".txt", Text(150000, i)});
  WriteArchive("c.zip", a);
  CreateDirectoryA("o", nullptr);
  SetCurrentDirectoryA("o");
  Recorder r;
  r.stopAt = [](const Event& e, const Recorder& rec) { return rec.Count(kFileBegins) == 5 && e.action == kProgressStep; };
  EXPECT_EQ(Unzip("..\\c.zip", {}, r), kResultCancelled);
  EXPECT_EQ(r.events.back().action, kProgressStep);
  EXPECT_EQ(r.Count(kBatchEnd), 0);
  EXPECT_EQ(ReadBytes("f3.txt"), Text(150000, 3));
  // Nothing past the file the stop came in stays, not even what the workers finished
  // ahead of it (they run up to a dozen files ahead).
  for (int i = 5; i < 30; ++i) {
    const std::string later = "f" + std::to_string(i) + ".txt";
    EXPECT_EQ(GetFileAttributesA(later.c_str()), INVALID_FILE_ATTRIBUTES) << later;
  }
  EXPECT_LE(Find("f*.txt").size(), 5u);
  EXPECT_TRUE(Find("~vk*").empty());
}

TEST_F(EngineUnzip, CancelOverFilesThatWereThereKeepsEachAsItWasOrAsTheArchiveHoldsIt) {
  ZipBuilder a;
  for (int i = 0; i < 30; ++i) a.Add({"f" + std::to_string(i) + ".txt", Text(150000, i)});
  WriteArchive("c.zip", a);
  CreateDirectoryA("o", nullptr);
  SetCurrentDirectoryA("o");
  // Every other file already right (left in place), the rest differing (replaced):
  // both kinds are finished by the workers ahead of the stop.
  const auto old = [](int i) { return i % 2 ? std::string("alt") + std::to_string(i) : Text(150000, i); };
  for (int i = 0; i < 30; ++i) WriteBytes("f" + std::to_string(i) + ".txt", old(i));
  Recorder r;
  r.stopAt = [](const Event& e, const Recorder& rec) { return rec.Count(kFileBegins) == 3 && e.action == kProgressStep; };
  EXPECT_EQ(Unzip("..\\c.zip", {}, r), kResultCancelled);
  for (int i = 0; i < 30; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    const std::string now = ReadBytes(name);
    EXPECT_TRUE(now == old(i) || now == Text(150000, i)) << name;
  }
  EXPECT_TRUE(Find("~vk*").empty());
}

TEST_F(EngineUnzip, ArchivesOfOtherWritersWithDirectoryEntries) {
  ZipBuilder a;
  a.AddStored("folder/", "");
  a.AddStored("folder/empty/", "");
  a.AddStored("folder/data.bin", Random(5000));
  WriteArchive("o.zip", a);
  Recorder r;
  EXPECT_EQ(Unzip("o.zip", {}, r), 1);
  EXPECT_TRUE(GetFileAttributesA("folder\\empty") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ReadBytes("folder\\data.bin"), Random(5000));
  EXPECT_EQ(r.Files(), std::vector<std::string>{"folder/data.bin"});
}

TEST_F(EngineUnzip, ATargetThatCannotBeWrittenIsNamedAndLeavesNothingHalfWritten) {
  ZipBuilder a;
  for (int i = 0; i < 3; ++i) a.Add({"f" + std::to_string(i) + ".txt", Text(150000, i)});
  WriteArchive("w.zip", a);
  CreateDirectoryA("o", nullptr);
  SetCurrentDirectoryA("o");
  CreateDirectoryA("f1.txt", nullptr);  // a folder where the file is to go
  Recorder r;
  EXPECT_EQ(Unzip("..\\w.zip", {}, r), 2);
  ASSERT_EQ(r.Messages().size(), 1u) << r.AllMessages();
  EXPECT_EQ(r.Messages()[0].code, kErrFileWrite);
  EXPECT_NE(r.Messages()[0].text.find("f1.txt"), std::string::npos) << r.AllMessages();
  EXPECT_EQ(ReadBytes("f0.txt"), Text(150000, 0));
  EXPECT_EQ(ReadBytes("f2.txt"), Text(150000, 2));
  EXPECT_TRUE(GetFileAttributesA("f1.txt") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(Find("~vk*").empty());
}
