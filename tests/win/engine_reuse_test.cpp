// VKZIP.DLL given an earlier archive of the same files: unchanged files take over
// its data, unread when their recorded times still hold; changed ones (also behind a
// restored last-write time) are compressed afresh, and when data taken over do not
// check out, the whole archive is packed again without taking anything over.
#include <functional>

#include "engine_faults.h"
#include "engine_test_util.h"

using namespace enginetest;

namespace {

// Small files go whole to a worker, big.dat (beyond 2 MiB) in pieces: both ways.
const std::vector<std::string> kFiles = {"a.txt", "b.txt", "big.dat", "c.txt"};

class EngineReuse : public EngineDirTest {
 protected:
  void SetUp() override {
    EngineDirTest::SetUp();
    for (size_t i = 0; i < kFiles.size(); ++i)
      WriteBytes(kFiles[i], Text(kFiles[i] == "big.dat" ? 5 << 20 : 40000 + 1000 * i, static_cast<unsigned>(i + 1)));
    // The earlier archive at level 1: an entry taken over keeps its level-1 size.
    // The files' times are recorded as if they had settled long before.
    vk::testing::SetEngineFault("VKZIP.DLL", vk::engine::kFreshFilesSettled);
    Recorder r;
    ASSERT_EQ(Zip("old.zip", kFiles, r, {1}), 4) << r.AllMessages();
  }

  // Packs at level 9 with old.zip (or `reference`) as the earlier archive while
  // `held` are open to no one else, and once without, for the sizes of fresh
  // entries. The files are announced once per attempt; every file must come back as
  // it is now. asFolder: named by their folder, as the backup run does, beside a
  // missing and an empty one, which add nothing and are not reported.
  void Pack(const std::string& reference = "old.zip", size_t attempts = 1,
            const std::vector<std::string>& held = {}, bool asFolder = false) {
    std::vector<std::string> specs = {kReferenceSpecMark + reference};
    if (asFolder) {
      CreateDirectoryA("empty", nullptr);
      for (const char* spec : {"missing", ".", "empty\\"}) specs.push_back(kFolderSpecMark + std::string(spec));
      for (const char* other : {"old.zip", "fresh.zip"}) specs.push_back(kExcludedSpecMark + root_ + "\\" + other);
    } else {
      specs.insert(specs.end(), kFiles.begin(), kFiles.end());
    }
    std::vector<HANDLE> holds;
    for (const std::string& f : held)
      holds.push_back(CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    Recorder r, fresh;
    const int32_t packed = Zip("new.zip", specs, r);
    for (HANDLE h : holds) CloseHandle(h);
    ASSERT_EQ(packed, 4) << r.AllMessages();
    std::vector<std::string> announced;
    for (size_t i = 0; i < attempts; ++i) announced.insert(announced.end(), kFiles.begin(), kFiles.end());
    EXPECT_EQ(r.Files(), announced);
    EXPECT_EQ(r.AllMessages(), "");
    DeleteFileA("fresh.zip");
    ASSERT_EQ(Zip("fresh.zip", kFiles, fresh), 4);
    ReadBack z("new.zip");
    for (const std::string& f : kFiles) EXPECT_EQ(z.Data(f), ReadBytes(f)) << f;
  }

  // The files whose entries took over the earlier archive's data.
  std::vector<std::string> TakenOver() {
    ReadBack now("new.zip"), old("old.zip"), fresh("fresh.zip");
    std::vector<std::string> names;
    for (const std::string& f : kFiles) {
      EXPECT_NE(old.Find(f)->compressedSize, fresh.Find(f)->compressedSize) << "level 1 and 9 alike: " << f;
      if (now.Find(f)->compressedSize == old.Find(f)->compressedSize) names.push_back(f);
    }
    return names;
  }
};

// Other bytes, the same size, and the last-write time put back as it was.
void ChangeBehindItsTime(const std::string& path, size_t at) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
  SetFilePointer(h, static_cast<LONG>(at), nullptr, FILE_BEGIN);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "XYZ", 3, &n, nullptr));
  ASSERT_TRUE(SetFileTime(h, &created, &accessed, &written));
  CloseHandle(h);
}

// Flips a byte of the entry's local header (at 0) or of its data (at their middle).
void FlipByte(const std::string& archive, const std::string& name, bool inData) {
  std::string bytes = ReadBytes(archive);
  ReadBack z(archive);
  const vk::zip::Entry* e = z.Find(name);
  bytes[e->localOffset + (inData ? 30 + name.size() + e->compressedSize / 2 : 0)] ^= 0x55;
  WriteBytes(archive, bytes);
}

TEST_F(EngineReuse, UnchangedFilesTakeOverTheirDataChangedOnesAreCompressed) {
  for (const std::string& f : kFiles) {
    EXPECT_NE(ReadBack("old.zip").Find(f)->stamp.changed, 0u) << f;
    // With the CRC-32 of the data as proved, by which the new archive's check and a
    // damaged earlier archive's entries are told (see below).
    EXPECT_TRUE(ReadBack("old.zip").Find(f)->writtenCrc) << f;
  }
  // Files whose recorded times still hold are not even opened.
  Pack("old.zip", 1, {"b.txt", "big.dat"});
  EXPECT_EQ(TakenOver(), kFiles);

  ChangeBehindItsTime("a.txt", 20000);
  ChangeBehindItsTime("big.dat", 3 << 20);
  WriteBytes("c.txt", ReadBytes("c.txt"));  // new times, the same content: known by its CRC
  Pack();
  EXPECT_EQ(TakenOver(), (std::vector<std::string>{"b.txt", "c.txt"}));
  // Times are recorded only once they have settled: not those of a file just written.
  EXPECT_EQ(ReadBack("new.zip").Find("c.txt")->stamp.changed, 0u);
}

TEST_F(EngineReuse, AFolderReadOnceCarriesTheTimesThatTakeDataOver) {
  // Only the files lying directly in the folder go in.
  CreateDirectoryA("sub", nullptr);
  WriteBytes("sub\\x.txt", "x");
  Pack("old.zip", 1, {"b.txt", "big.dat"}, /*asFolder=*/true);
  EXPECT_EQ(TakenOver(), kFiles);

  ChangeBehindItsTime("a.txt", 20000);
  Pack("old.zip", 1, {}, /*asFolder=*/true);
  EXPECT_EQ(TakenOver(), (std::vector<std::string>{"b.txt", "big.dat", "c.txt"}));
}

TEST_F(EngineReuse, AnEarlierArchiveThatDoesNotCheckOutIsNotTrusted) {
  const std::string old = ReadBytes("old.zip");
  struct Case {
    const char* what;
    std::function<void()> damage;
    size_t attempts;
  } cases[] = {
      {"entry data damaged",
       [] {
         FlipByte("old.zip", "b.txt", true);
         FlipByte("old.zip", "big.dat", true);
       },
       2},
      {"local header damaged", [] { FlipByte("old.zip", "c.txt", false); }, 2},
      {"directory cut off", [&] { WriteBytes("old.zip", old.substr(0, old.size() - 100)); }, 1},
      {"not an archive", [] { WriteBytes("old.zip", Text(5000)); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes("old.zip", old);
    c.damage();
    Pack("old.zip", c.attempts);
    WriteBytes("old.zip", old);  // whole again, for the sizes of its entries
    EXPECT_EQ(TakenOver(), std::vector<std::string>{});
  }
  // No earlier archive at all.
  Pack("missing.zip");
}

}  // namespace
