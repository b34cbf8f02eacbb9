#include "core/zip_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace vk::zip;

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

Entry SampleEntry() {
  Entry e;
  e.name = "dir/file.txt";
  e.method = kMethodDeflated;
  e.crc = 0x12345678;
  e.compressedSize = 100;
  e.uncompressedSize = 250;
  e.modified = ToDosDateTime({2024, 2, 29, 13, 45, 58});
  return e;
}

}  // namespace

TEST(ZipCrc, KnownValueAndCombination) {
  const std::string text = "123456789";
  EXPECT_EQ(Crc32(0, text.data(), text.size()), 0xCBF43926u);
  const std::string a = "The quick brown fox ", b = "jumps over the lazy dog";
  const uint32_t whole = Crc32(0, (a + b).data(), a.size() + b.size());
  EXPECT_EQ(CombineCrc32(Crc32(0, a.data(), a.size()), Crc32(0, b.data(), b.size()), b.size()), whole);
  EXPECT_EQ(Crc32(Crc32(0, a.data(), a.size()), b.data(), b.size()), whole);
}

TEST(ZipCrc, CombinesLengthsBeyondZlibsOffsetType) {
  // More than 2 GiB of zeros after "abc": combined in one call, and computed.
  const std::string zeros(1 << 20, '\0');
  const uint64_t length = (2ull << 30) + 12345;
  uint32_t crcZeros = 0;
  for (uint64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), length - done));
    crcZeros = Crc32(crcZeros, zeros.data(), n);
    done += n;
  }
  uint32_t direct = Crc32(0, "abc", 3);
  for (uint64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), length - done));
    direct = Crc32(direct, zeros.data(), n);
    done += n;
  }
  EXPECT_EQ(CombineCrc32(Crc32(0, "abc", 3), crcZeros, length), direct);
}

TEST(ZipDosTime, RoundTripsAndClampsToItsRange) {
  const CivilTime t{2024, 2, 29, 13, 45, 58};
  const CivilTime back = FromDosDateTime(ToDosDateTime(t));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 2);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.hour, 13);
  EXPECT_EQ(back.minute, 45);
  EXPECT_EQ(back.second, 58);
  // Two-second steps: an odd second is rounded down.
  EXPECT_EQ(FromDosDateTime(ToDosDateTime({2000, 1, 1, 0, 0, 59})).second, 58);
  // Before 1980: the first DOS day.
  const DosDateTime early = ToDosDateTime({1970, 6, 1, 12, 0, 0});
  EXPECT_EQ(early.date, (1 << 5) | 1);
  EXPECT_EQ(early.time, 0);
  // After 2107: the last DOS second.
  const CivilTime late = FromDosDateTime(ToDosDateTime({2200, 1, 1, 0, 0, 0}));
  EXPECT_EQ(late.year, 2107);
  EXPECT_EQ(late.month, 12);
  EXPECT_EQ(late.day, 31);
  EXPECT_EQ(late.second, 58);
  // Damaged fields are clamped, not passed on.
  const CivilTime odd = FromDosDateTime(DosDateTime{0xFFFF, 0x0000});
  EXPECT_EQ(odd.month, 1);
  EXPECT_EQ(odd.day, 1);
  EXPECT_EQ(odd.hour, 23);
  EXPECT_EQ(odd.minute, 59);
}

TEST(ZipLocalHeader, CarriesSizesAndCrcWithoutDescriptor) {
  const Entry e = SampleEntry();
  const std::string h = LocalHeader(e, false);
  ASSERT_EQ(h.size(), kLocalHeaderSize + e.name.size());
  const auto f = ParseLocalHeader(Bytes(h), h.size());
  ASSERT_TRUE(f);
  EXPECT_EQ(f->flags & kFlagDataDescriptor, 0);
  EXPECT_EQ(f->method, kMethodDeflated);
  EXPECT_EQ(f->crc, 0x12345678u);
  EXPECT_EQ(f->compressedSize, 100u);
  EXPECT_EQ(f->uncompressedSize, 250u);
  EXPECT_EQ(f->nameLength, e.name.size());
  EXPECT_EQ(f->extraLength, 0);
  EXPECT_EQ(f->modified.date, e.modified.date);
  EXPECT_EQ(h.substr(kLocalHeaderSize), e.name);
}

TEST(ZipLocalHeader, Zip64FormKeepsItsLengthWhateverTheSizes) {
  Entry e = SampleEntry();
  const std::string before = LocalHeader(e, true);
  e.compressedSize = 5'000'000'000ull;
  e.uncompressedSize = 6'000'000'000ull;
  const std::string after = LocalHeader(e, true);
  ASSERT_EQ(before.size(), after.size());
  ASSERT_EQ(after.size(), kLocalHeaderSize + e.name.size() + kZip64LocalExtraSize);

  auto f = ParseLocalHeader(Bytes(after), after.size());
  ASSERT_TRUE(f);
  EXPECT_EQ(f->compressedSize, kMax32);
  EXPECT_EQ(f->uncompressedSize, kMax32);
  ASSERT_TRUE(ApplyLocalZip64(after.substr(kLocalHeaderSize + f->nameLength, f->extraLength), &*f));
  EXPECT_EQ(f->compressedSize, 5'000'000'000ull);
  EXPECT_EQ(f->uncompressedSize, 6'000'000'000ull);

  EXPECT_TRUE(FitsLocalHeader(e, true));
  EXPECT_FALSE(FitsLocalHeader(e, false));
  e.compressedSize = kMax32 - 1;
  e.uncompressedSize = kMax32 - 1;
  EXPECT_TRUE(FitsLocalHeader(e, false));
  e.uncompressedSize = kMax32;  // the marker value itself needs ZIP64
  EXPECT_FALSE(FitsLocalHeader(e, false));
}

TEST(ZipLocalHeader, Zip64DecisionLeavesRoomForDeflateGrowth) {
  EXPECT_FALSE(NeedsZip64Local(0));
  EXPECT_FALSE(NeedsZip64Local(kZip64LocalThreshold - 1));
  EXPECT_TRUE(NeedsZip64Local(kZip64LocalThreshold));
  // Worst-case deflate growth of a file just below the threshold still fits 32 bits.
  const uint64_t below = kZip64LocalThreshold - 1;
  EXPECT_LT(below + below / 1000 + 65536, uint64_t{kMax32});
}

TEST(ZipLocalHeader, RefusesShortOrForeignBytes) {
  const std::string h = LocalHeader(SampleEntry(), false);
  EXPECT_FALSE(ParseLocalHeader(Bytes(h), kLocalHeaderSize - 1));
  std::string wrong = h;
  wrong[0] = 'X';
  EXPECT_FALSE(ParseLocalHeader(Bytes(wrong), wrong.size()));
  // A ZIP64 marker without the extra record cannot be resolved.
  LocalHeaderFields f;
  f.compressedSize = kMax32;
  EXPECT_FALSE(ApplyLocalZip64("", &f));
  std::string shortRecord;
  PutU16(&shortRecord, kExtraZip64);
  PutU16(&shortRecord, 8);
  PutU64(&shortRecord, 7);
  f.uncompressedSize = kMax32;
  EXPECT_FALSE(ApplyLocalZip64(shortRecord, &f));  // both marked, one present

  // Only the compressed size marked: it is still the second of the two.
  std::string both;
  PutU16(&both, kExtraZip64);
  PutU16(&both, 16);
  PutU64(&both, 6'000'000'000ull);
  PutU64(&both, 5'000'000'000ull);
  LocalHeaderFields g;
  g.compressedSize = kMax32;
  g.uncompressedSize = 1234;
  ASSERT_TRUE(ApplyLocalZip64(both, &g));
  EXPECT_EQ(g.compressedSize, 5'000'000'000ull);
  EXPECT_EQ(g.uncompressedSize, 1234u);
}

TEST(ZipCentralHeader, Zip64ExtraOnlyForTheFieldsThatOverflow) {
  Entry e = SampleEntry();
  std::string h = CentralHeader(e);
  EXPECT_EQ(h.size(), kCentralHeaderSize + e.name.size());
  EXPECT_EQ(GetU16(Bytes(h) + 6), 20);  // version needed

  e.localOffset = 0x1'0000'0000ull;
  h = CentralHeader(e);
  ASSERT_EQ(h.size(), kCentralHeaderSize + e.name.size() + 4 + 8);
  EXPECT_EQ(GetU16(Bytes(h) + 6), 45);
  EXPECT_EQ(GetU32(Bytes(h) + 20), 100u);  // sizes stay in the header
  EXPECT_EQ(GetU32(Bytes(h) + 42), kMax32);
  const auto record = FindExtraRecord(h.substr(kCentralHeaderSize + e.name.size()), kExtraZip64);
  ASSERT_TRUE(record);
  ASSERT_EQ(record->size(), 8u);
  EXPECT_EQ(GetU64(reinterpret_cast<const uint8_t*>(record->data())), 0x1'0000'0000ull);
}

TEST(ZipCentralHeader, FileStampBesideZip64AndMalformedOnesIgnored) {
  Entry e = SampleEntry();
  e.localOffset = 0x1'0000'0000ull;
  e.stamp = {0x0123'4567'89AB'CDEFull, 0x0FED'CBA9'8765'4321ull};
  const std::string h = CentralHeader(e);
  ASSERT_EQ(GetU16(Bytes(h) + 30), 4 + 8 + 4 + 16);
  const std::string extra = h.substr(kCentralHeaderSize + e.name.size());
  EXPECT_EQ(ReadFileStamp(extra), e.stamp);
  EXPECT_EQ(FindExtraRecord(extra, kExtraZip64)->size(), 8u);
  // A record of another length, or none, records nothing.
  std::string shorter = extra.substr(0, 12);
  PutU16(&shorter, kExtraFileStamp);
  PutU16(&shorter, 15);
  shorter += extra.substr(16, 15);
  EXPECT_EQ(ReadFileStamp(shorter).changed, 0u);
  EXPECT_EQ(ReadFileStamp(extra.substr(0, 12)).changed, 0u);
  EXPECT_FALSE(ReadProvedCrc(extra));
  // Proved data add their CRC-32 as stored; the stamp reads as before.
  e.writtenCrc = 0xCAFEF00Du;
  const std::string proved = CentralHeader(e).substr(kCentralHeaderSize + e.name.size());
  ASSERT_EQ(proved.size(), extra.size() + 4);
  EXPECT_EQ(ReadFileStamp(proved), e.stamp);
  EXPECT_EQ(ReadProvedCrc(proved), 0xCAFEF00Du);
  // Without a stamp nothing is recorded.
  e.stamp = {};
  EXPECT_FALSE(ReadProvedCrc(CentralHeader(e).substr(kCentralHeaderSize + e.name.size())));
}

TEST(ZipEndRecords, Zip64FromTheEntryCountOn) {
  EXPECT_EQ(EndRecords(10, 1000, 500).size(), kEndSize);
  EXPECT_EQ(EndRecords(kMax16 - 1, 1000, 500).size(), kEndSize);
  const std::string big = EndRecords(kMax16, 1000, 500);
  ASSERT_EQ(big.size(), kZip64EndSize + kZip64LocatorSize + kEndSize);
  EXPECT_EQ(GetU32(Bytes(big)), kZip64EndSig);
  EXPECT_EQ(GetU64(Bytes(big) + 32), uint64_t{kMax16});
  EXPECT_EQ(GetU32(Bytes(big) + kZip64EndSize), kZip64LocatorSig);
  EXPECT_EQ(GetU64(Bytes(big) + kZip64EndSize + 8), 1500u);  // where the ZIP64 end record is
  EXPECT_EQ(EndRecords(3, 0x1'0000'0000ull, 10).size(), kZip64EndSize + kZip64LocatorSize + kEndSize);
  EXPECT_EQ(EndRecords(3, 10, 10, /*forceZip64=*/true).size(),
            kZip64EndSize + kZip64LocatorSize + kEndSize);
}

TEST(ZipExtraField, FindsRecordsAndStopsAtDamage) {
  std::string extra;
  PutU16(&extra, 0x5455);
  PutU16(&extra, 1);
  extra += 'x';
  PutU16(&extra, kExtraUnicodePath);
  PutU16(&extra, 2);
  extra += "ab";
  EXPECT_EQ(FindExtraRecord(extra, kExtraUnicodePath).value(), "ab");
  EXPECT_FALSE(FindExtraRecord(extra, kExtraZip64));
  // A record that claims more bytes than the field holds ends the search.
  EXPECT_FALSE(FindExtraRecord(extra.substr(0, extra.size() - 1), kExtraUnicodePath));
}
