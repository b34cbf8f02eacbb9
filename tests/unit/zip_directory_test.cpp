#include "core/zip_directory.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/errors.h"
#include "zip_builder.h"

using namespace vk::zip;
using vk::testzip::ZipBuilder;

namespace {

std::string Read(RandomAccess& file, const Entry& e) {
  struct Collect : DataSink {
    std::string data;
    bool Write(const void* p, size_t n) override {
      data.append(static_cast<const char*>(p), n);
      return true;
    }
  } sink;
  EXPECT_EQ(ReadEntryData(file, e, sink), DataResult::kOk) << e.name;
  return sink.data;
}

// A file of any size made of a few pieces at given offsets, zeros elsewhere: lets
// the ZIP64 paths run without gigabytes of data.
class SparseAccess : public RandomAccess {
 public:
  void Put(uint64_t offset, std::string data) { pieces_[offset] = std::move(data); }
  void SetSize(uint64_t size) { size_ = size; }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset > size_ || length > size_ - offset) return false;
    auto* out = static_cast<char*>(buffer);
    std::fill(out, out + length, '\0');
    for (const auto& [at, data] : pieces_) {
      const uint64_t begin = std::max(at, offset), end = std::min(at + data.size(), offset + length);
      if (begin < end) std::copy_n(data.data() + (begin - at), end - begin, out + (begin - offset));
    }
    return true;
  }

 private:
  std::map<uint64_t, std::string> pieces_;
  uint64_t size_ = 0;
};

}  // namespace

TEST(ZipDirectory, ReadsWhatTheWriterWrote) {
  ZipBuilder b;
  b.Add({"a.txt", "hello hello hello hello"});
  b.Add({"dir/", "", kMethodStored});
  b.Add({"dir/b.bin", std::string(100000, 'x'), kMethodDeflated});
  b.Add({"dir/empty", "", kMethodStored});
  const std::string archive = b.Finish();
  MemoryAccess file(archive);
  Directory dir = ReadDirectory(file);
  ASSERT_EQ(dir.entries.size(), 4u);
  EXPECT_FALSE(dir.zip64);
  EXPECT_EQ(dir.prefix, 0u);
  EXPECT_EQ(dir.entries[2].name, "dir/b.bin");
  EXPECT_EQ(dir.entries[2].uncompressedSize, 100000u);
  EXPECT_TRUE(dir.entries[1].IsDirectory());
  for (auto& e : dir.entries) ASSERT_TRUE(LocateData(file, &e));
  EXPECT_EQ(Read(file, dir.entries[0]), "hello hello hello hello");
  EXPECT_EQ(Read(file, dir.entries[2]), std::string(100000, 'x'));
  EXPECT_EQ(Read(file, dir.entries[3]), "");
}

TEST(ZipDirectory, Zip64EndRecordsAndBytesInFront) {
  ZipBuilder b;
  b.forceZip64 = true;
  b.Add({"one", "1111"});
  b.Add({"two", "2222"});
  const std::string plain = b.Finish();
  {
    MemoryAccess file(plain);
    const Directory dir = ReadDirectory(file);
    EXPECT_TRUE(dir.zip64);
    ASSERT_EQ(dir.entries.size(), 2u);
  }
  // A stub in front (a self-extractor) shifts every offset by its length.
  const std::string stub(1000, 'S');
  const std::string shifted = stub + plain;
  MemoryAccess file(shifted);
  Directory dir = ReadDirectory(file);
  EXPECT_EQ(dir.prefix, stub.size());
  ASSERT_TRUE(LocateData(file, &dir.entries[1]));
  EXPECT_EQ(Read(file, dir.entries[1]), "2222");
}

TEST(ZipDirectory, Zip64SizesAndOffsetsBeyondFourGiB) {
  // One entry of 5 GiB of zeros stored at offset 0, a second after it: the central
  // directory needs ZIP64 for sizes and offset, the end records for the offset.
  const uint64_t big = 5ull << 30;
  SparseAccess file;
  Entry first;
  first.name = "big";
  first.method = kMethodStored;
  first.compressedSize = first.uncompressedSize = big;
  const std::string firstHeader = LocalHeader(first, true);
  file.Put(0, firstHeader);
  Entry second;
  second.name = "small";
  second.method = kMethodStored;
  second.compressedSize = second.uncompressedSize = 3;
  second.crc = Crc32(0, "abc", 3);
  second.localOffset = firstHeader.size() + big;
  const std::string secondLocal = LocalHeader(second, false) + "abc";
  file.Put(second.localOffset, secondLocal);
  const uint64_t cdOffset = second.localOffset + secondLocal.size();
  const std::string cd = CentralHeader(first) + CentralHeader(second);
  file.Put(cdOffset, cd + EndRecords(2, cdOffset, cd.size()));
  file.SetSize(cdOffset + cd.size() + kZip64EndSize + kZip64LocatorSize + kEndSize);

  Directory dir = ReadDirectory(file);
  ASSERT_EQ(dir.entries.size(), 2u);
  EXPECT_TRUE(dir.zip64);
  EXPECT_EQ(dir.entries[0].uncompressedSize, big);
  EXPECT_EQ(dir.entries[0].compressedSize, big);
  EXPECT_EQ(dir.entries[1].localOffset, second.localOffset);
  const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
  ASSERT_EQ(plan.entries.size(), 2u);
  EXPECT_EQ(plan.entries[0].refusal, Refusal::kNone);
  EXPECT_EQ(plan.entries[1].refusal, Refusal::kNone);
  EXPECT_EQ(Read(file, dir.entries[1]), "abc");
}

TEST(ZipDirectory, EveryTruncatedPrefixIsRefusedCleanly) {
  ZipBuilder b;
  b.Add({"a.txt", "some text to compress, some text to compress"});
  b.Add({"b/c.txt", "more"});
  const std::string archive = b.Finish();
  for (size_t length = 0; length < archive.size(); ++length) {
    MemoryAccess file(std::string_view(archive).substr(0, length));
    EXPECT_THROW(ReadDirectory(file), vk::EZipDirError) << length;
  }
}

TEST(ZipDirectory, DamagedDirectoriesAreRefused) {
  ZipBuilder b;
  b.Add({"a.txt", "aaaa"});
  b.Add({"b.txt", "bbbb"});
  const std::string good = b.Finish();
  const size_t cdOffset = b.bytes.size();
  auto expectRefused = [](std::string bytes) {
    MemoryAccess file(bytes);
    EXPECT_THROW(ReadDirectory(file), vk::EZipDirError);
  };
  std::string s = good;
  s[cdOffset] = 'X';  // central header signature
  expectRefused(s);
  s = good;
  s[s.size() - kEndSize + 8] = 3;  // three entries claimed, two present
  s[s.size() - kEndSize + 10] = 3;
  expectRefused(s);
  s = good;
  s[s.size() - kEndSize + 8] = 1;  // entries on this disk differ from the total
  expectRefused(s);
  s = good;
  s[s.size() - kEndSize + 16] = static_cast<char>(0xF0);  // directory offset beyond the file
  expectRefused(s);
  s = good;
  s[s.size() - kEndSize + 4] = 1;  // a multi-disk archive
  expectRefused(s);
  expectRefused(std::string(100, 'x'));
  expectRefused("PK\x05\x06");
}

TEST(ZipDirectory, AcceptsAnArchiveComment) {
  ZipBuilder b;
  b.Add({"a.txt", "aaaa"});
  std::string s = b.Finish();
  const std::string comment = "made by hand PK\x05\x06 inside a comment of some length";
  s[s.size() - 2] = static_cast<char>(comment.size());
  s += comment;
  MemoryAccess file(s);
  EXPECT_EQ(ReadDirectory(file).entries.size(), 1u);
}

TEST(ZipPlan, RefusesHostileNamesAndKeepsTheRest) {
  ZipBuilder b;
  for (const char* name : {"../x", "C:\\x", "\\\\server\\x", "a/../../x", "CON", "ok/file.txt",
                           "/abs", "ab:c", "x\\y\\z.txt"})
    b.Add({name, "data"});
  const std::string archive = b.Finish();
  MemoryAccess file(archive);
  Directory dir = ReadDirectory(file);
  const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
  ASSERT_EQ(plan.entries.size(), 9u);
  std::vector<NameProblem> problems;
  for (const auto& p : plan.entries) problems.push_back(p.nameProblem);
  EXPECT_EQ(problems, (std::vector<NameProblem>{
                          NameProblem::kDotStep, NameProblem::kDrive, NameProblem::kAbsolute,
                          NameProblem::kDotStep, NameProblem::kReservedDevice, NameProblem::kOk,
                          NameProblem::kAbsolute, NameProblem::kColon, NameProblem::kOk}));
  EXPECT_EQ(plan.entries[0].refusal, Refusal::kBadName);
  EXPECT_EQ(plan.entries[5].refusal, Refusal::kNone);
  EXPECT_EQ(plan.entries[5].target, u"ok\\file.txt");
  EXPECT_EQ(plan.entries[8].name, u"x/y/z.txt");  // "\" is read as a separator
  EXPECT_EQ(plan.entries[8].target, u"x\\y\\z.txt");
}

TEST(ZipPlan, DuplicatesOverlapsLinksAndUnsupportedData) {
  ZipBuilder b;
  b.Add({"Readme.txt", "first"});
  b.Add({"README.TXT", "second"});
  b.Add({"link", "target", kMethodStored, 0, (3 << 8) | 20, 0120777u << 16});
  b.Add({"secret", "xxxx", kMethodStored, kFlagEncrypted});
  b.Add({"bzip", "xxxx", 12});
  b.Add({"fine", "fine"});
  std::string archive = b.Finish();
  MemoryAccess file(archive);
  Directory dir = ReadDirectory(file);
  dir.entries[5].method = kMethodStored;  // declared stored with sizes that differ
  dir.entries[5].uncompressedSize = 99;
  const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
  ASSERT_EQ(plan.entries.size(), 6u);
  EXPECT_EQ(plan.entries[0].refusal, Refusal::kNone);
  EXPECT_EQ(plan.entries[1].refusal, Refusal::kDuplicate);
  EXPECT_EQ(plan.entries[2].refusal, Refusal::kSymbolicLink);
  EXPECT_EQ(plan.entries[3].refusal, Refusal::kEncrypted);
  EXPECT_EQ(plan.entries[4].refusal, Refusal::kMethod);
  EXPECT_EQ(plan.entries[5].refusal, Refusal::kStoredSizes);
}

TEST(ZipPlan, DuplicatesFoldAsTheFileSystemAndNamesUseItsCodePage) {
  ZipBuilder b;
  for (const char* name : {"\xE1\xBA\xA0.txt", "\xE1\xBA\xA1.txt", "\xEF\xBC\xA1", "\xEF\xBD\x81",
                           "\xD4\xB1", "\xD5\xA1", "\xC6\x82", "\xC6\x83"})
    b.Add({name, "x", kMethodStored, kFlagUtf8});
  b.Add({"\x9B.txt", "x"});
  std::string archive = b.Finish();
  MemoryAccess file(archive);
  Directory dir = ReadDirectory(file);
  const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
  ASSERT_EQ(plan.entries.size(), 9u);
  for (size_t i = 0; i < 8; ++i)
    EXPECT_EQ(plan.entries[i].refusal, i % 2 ? Refusal::kDuplicate : Refusal::kNone) << i;
  EXPECT_EQ(plan.entries[8].name, u"\u00A2.txt");

  // The caller's rules: its code page, its fold (here one that folds nothing).
  NameRules rules;
  rules.oem = &kCp850;
  rules.fold = [](std::u16string_view t) { return std::u16string(t); };
  const ExtractionPlan own = PlanExtraction(file, dir, true, {}, rules);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(own.entries[i].refusal, Refusal::kNone) << i;
  EXPECT_EQ(own.entries[8].name, u"\u00F8.txt");
}

TEST(ZipPlan, OverlappingDataRefusesEveryEntryInvolved) {
  ZipBuilder b;
  b.Add({"a", std::string(5000, 'a')});
  b.Add({"b", "bbbb"});
  b.Add({"c", "cccc"});
  const std::string archive = b.Finish();
  MemoryAccess file(archive);
  {
    // "c" claims to start where "a" does: the classic zip bomb layout.
    Directory dir = ReadDirectory(file);
    dir.entries[2].localOffset = dir.entries[0].localOffset;
    const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
    EXPECT_EQ(plan.entries[0].refusal, Refusal::kOverlap);
    EXPECT_EQ(plan.entries[1].refusal, Refusal::kNone);
    EXPECT_EQ(plan.entries[2].refusal, Refusal::kOverlap);
  }
  {
    // "a" claims more data than lies before "b".
    Directory dir = ReadDirectory(file);
    dir.entries[0].compressedSize += 10;
    const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
    EXPECT_EQ(plan.entries[0].refusal, Refusal::kOverlap);
    EXPECT_EQ(plan.entries[1].refusal, Refusal::kOverlap);
    EXPECT_EQ(plan.entries[2].refusal, Refusal::kNone);
  }
  {
    // "c" reaches into the central directory.
    Directory dir = ReadDirectory(file);
    dir.entries[2].compressedSize += 1;
    const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
    EXPECT_EQ(plan.entries[2].refusal, Refusal::kOverlap);
  }
  {
    // A missing local header.
    Directory dir = ReadDirectory(file);
    dir.entries[1].localOffset += 1;
    const ExtractionPlan plan = PlanExtraction(file, dir, true, {});
    EXPECT_EQ(plan.entries[1].refusal, Refusal::kLocalHeader);
  }
}

TEST(ZipPlan, SelectsBySpecificationAndFlattensWithoutDirectories) {
  ZipBuilder b;
  b.Add({"top.txt", "t"});
  b.Add({"d/", "", kMethodStored});
  b.Add({"d/x.txt", "x"});
  b.Add({"d/e/y.dat", "y"});
  b.Add({"other/x.txt", "x2"});
  const std::string archive = b.Finish();
  MemoryAccess file(archive);
  Directory dir = ReadDirectory(file);

  ExtractionPlan plan = PlanExtraction(file, dir, true, {u"d\\*.txt", u"missing.txt", u"TOP.TXT"});
  ASSERT_EQ(plan.entries.size(), 2u);
  EXPECT_EQ(plan.entries[0].name, u"top.txt");
  EXPECT_EQ(plan.entries[1].target, u"d\\x.txt");
  EXPECT_EQ(plan.unmatchedSpecs, std::vector<size_t>{1});
  // The folders of every entry, named or not, once each.
  EXPECT_EQ(plan.folders, (std::vector<std::u16string>{u"", u"d", u"d\\e", u"other"}));

  // Without directories, every file goes to its last name part: the second x.txt
  // would overwrite the first and is refused; directory entries drop out.
  plan = PlanExtraction(file, dir, false, {});
  ASSERT_EQ(plan.entries.size(), 4u);
  EXPECT_EQ(plan.entries[1].target, u"x.txt");
  EXPECT_EQ(plan.entries[2].target, u"y.dat");
  EXPECT_EQ(plan.entries[3].refusal, Refusal::kDuplicate);

  plan = PlanExtraction(file, dir, true, {});
  ASSERT_EQ(plan.entries.size(), 5u);
  EXPECT_TRUE(plan.entries[1].directory);
  EXPECT_EQ(plan.entries[1].target, u"d");
}
