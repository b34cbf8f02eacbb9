// The ZIP64 cases through both engines: a file beyond 4 GiB (sparse, with marks at
// the edges) and more than 65,535 entries. Long: they run in the "long" ctest entry.
#include <algorithm>
#include <string>

#include "engine_test_util.h"

using namespace enginetest;
namespace zip = vk::zip;

namespace {

class EngineLong : public EngineDirTest {};

constexpr uint64_t kBig = (4ull << 30) + (512ull << 20);  // 4.5 GiB

struct Mark {
  uint64_t offset;
  std::string text;
};
const Mark kMarks[] = {{0, "first bytes"}, {(4ull << 30) - 5, "across 4 GiB"}, {kBig - 9, "last one"}};

bool WriteAtOffset(HANDLE h, uint64_t offset, const std::string& data) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD n = 0;
  return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
         WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) && n == data.size();
}

std::string ReadAtOffset(const std::string& path, uint64_t offset, size_t length) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string data(length, '\0');
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD n = 0;
  SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
  ReadFile(h, data.data(), static_cast<DWORD>(length), &n, nullptr);
  CloseHandle(h);
  data.resize(n);
  return data;
}

uint64_t SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Zeros with the marks: the file system keeps the holes sparse.
void MakeBigFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(kBig);
  ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h));
  for (const auto& m : kMarks) ASSERT_TRUE(WriteAtOffset(h, m.offset, m.text));
  CloseHandle(h);
  ASSERT_EQ(SizeOf(path), kBig);
}

void PackAndExtractBigFile(int level) {
  MakeBigFile("big.bin");
  WriteBytes("after.txt", "behind the big one");
  Recorder pack;
  ASSERT_EQ(Zip("big.zip", {"big.bin", "after.txt"}, pack, {level, true, false}), 2) << pack.AllMessages();
  // The file's steps, then those of the read-back check.
  auto isStep = [](const Event& e) { return e.action == kProgressStep; };
  const auto check = std::find_if(pack.events.begin(), pack.events.end(),
                                  [](const Event& e) { return e.action == kFileBegins && e.text == kCheckLabel; });
  ASSERT_NE(check, pack.events.end());
  EXPECT_EQ(std::count_if(pack.events.begin(), check, isStep), static_cast<long>(kBig / kProgressStepBytes));
  EXPECT_GT(std::count_if(check, pack.events.end(), isStep), 0);
  EXPECT_EQ(pack.events[0].size, static_cast<int32_t>(static_cast<uint32_t>(kBig)));  // low 32 bits
  DeleteFileA("big.bin");

  // The directory as the core reads it: ZIP64 sizes (and offsets when stored).
  {
    HANDLE h = CreateFileA("big.zip", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    struct Access : zip::RandomAccess {
      HANDLE h;
      uint64_t size;
      uint64_t Size() const override { return size; }
      bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD n = 0;
        return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
               ReadFile(h, buffer, static_cast<DWORD>(length), &n, nullptr) && n == length;
      }
    } access;
    access.h = h;
    access.size = SizeOf("big.zip");
    const zip::Directory dir = zip::ReadDirectory(access);
    CloseHandle(h);
    ASSERT_EQ(dir.entries.size(), 2u);
    EXPECT_EQ(dir.entries[0].uncompressedSize, kBig);
    if (level == 0) {
      EXPECT_EQ(dir.entries[0].compressedSize, kBig);
      EXPECT_GT(dir.entries[1].localOffset, kBig);
      EXPECT_TRUE(dir.zip64);
    }
  }

  CreateDirectoryA("out", nullptr);
  SetCurrentDirectoryA("out");
  Recorder unpack;
  ASSERT_EQ(Unzip("..\\big.zip", {}, unpack), 2) << unpack.AllMessages();
  EXPECT_EQ(SizeOf("big.bin"), kBig);
  for (const auto& m : kMarks) EXPECT_EQ(ReadAtOffset("big.bin", m.offset, m.text.size()), m.text);
  EXPECT_EQ(ReadBytes("after.txt"), "behind the big one");
  DeleteFileA("big.bin");
  SetCurrentDirectoryA("..");
}

}  // namespace

TEST_F(EngineLong, DeflatedFileBeyondFourGiB) { PackAndExtractBigFile(1); }

TEST_F(EngineLong, StoredFileBeyondFourGiBWithOffsetsBeyond) { PackAndExtractBigFile(0); }

TEST_F(EngineLong, MoreThan65535Entries) {
  constexpr int kDirs = 66, kPerDir = 1000;
  for (int d = 0; d < kDirs; ++d) {
    const std::string dir = "d" + std::to_string(d);
    CreateDirectoryA(dir.c_str(), nullptr);
    for (int i = 0; i < kPerDir; ++i) WriteBytes(dir + "\\" + std::to_string(i), std::to_string(d * kPerDir + i));
  }
  Recorder pack;
  ASSERT_EQ(Zip("many.zip", {"*"}, pack, {6, true, /*recurse=*/true}), kDirs * kPerDir) << pack.AllMessages();
  {
    ReadBack z("many.zip");
    EXPECT_TRUE(z.dir.zip64);
    ASSERT_EQ(z.dir.entries.size(), static_cast<size_t>(kDirs * kPerDir));
    EXPECT_EQ(z.Data("d65/999"), "65999");
  }
  CreateDirectoryA("out", nullptr);
  SetCurrentDirectoryA("out");
  Recorder unpack;
  EXPECT_EQ(Unzip("..\\many.zip", {}, unpack), kDirs * kPerDir) << unpack.AllMessages();
  EXPECT_EQ(ReadBytes("d0\\0"), "0");
  EXPECT_EQ(ReadBytes("d65\\999"), "65999");
  EXPECT_EQ(Find("d33\\*").size(), static_cast<size_t>(kPerDir));
  SetCurrentDirectoryA("..");
}
