#include "core/zip_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>

#include "core/zip_workers.h"

using namespace vk::zip;

namespace {

// Text-like data with repeats near and far.
std::string Corpus(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "archive ", "backup ", "\n",
                         "Kestrone ", "Verzeichnis ", "0123456789 "};
  std::string s;
  while (s.size() < size) {
    if (s.size() > 4096 && rng() % 16 == 0) {
      const size_t from = rng() % (s.size() - 2048);
      s.append(s, from, 200 + rng() % 1500);
    } else {
      s += words[rng() % 10];
      if (rng() % 7 == 0) s += static_cast<char>('A' + rng() % 26);
    }
  }
  s.resize(size);
  return s;
}

std::string CompressInPieces(const std::string& data, size_t piece, int level) {
  PieceCompressor compressor(level);
  std::string out;
  for (size_t at = 0; at < data.size() || at == 0; at += piece) {
    const size_t n = std::min(piece, data.size() - at);
    compressor.Compress(std::string_view(data).substr(at, n), at + n >= data.size(), &out);
    if (data.empty()) break;
  }
  return out;
}

// zlib's own reading of a raw deflate stream that must end exactly at its end.
std::string InflateWithZlib(const std::string& compressed, size_t size) {
  std::string out(size, '\0');
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return "init failed";
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const bool whole = inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_in == 0 && z.avail_out == 0;
  inflateEnd(&z);
  return whole ? out : "not one whole stream";
}

Entry MakeEntry(const std::string& data, const std::string& compressed, uint16_t method) {
  Entry e;
  e.name = "x";
  e.method = method;
  e.crc = Crc32(0, data.data(), data.size());
  e.uncompressedSize = data.size();
  e.compressedSize = compressed.size();
  e.dataOffset = 0;
  return e;
}

struct Collect : DataSink {
  std::string data;
  size_t limit = SIZE_MAX;
  bool stop = false;
  bool Write(const void* p, size_t n) override {
    if (data.size() + n > limit) {
      stop = true;
      return false;
    }
    data.append(static_cast<const char*>(p), n);
    return true;
  }
  bool Stopped() const override { return stop; }
};

DataResult ReadBack(const std::string& compressed, const Entry& e, Collect* sink) {
  MemoryAccess file(compressed);
  return ReadEntryData(file, e, *sink);
}

}  // namespace

// Pieces of the engine's size, each compressed without the one before it, form one
// stream; for data that compresses fifteenfold, where each piece's cold start costs
// most, it stays within 2 % of one stream over the whole file.
TEST(ZipPieces, PiecesFormOneStreamCloseToASingleOne) {
  const std::string data = Corpus(3 * 1024 * 1024 + 17, 1);
  const std::string pieced = CompressInPieces(data, 1024 * 1024, 9);
  Collect sink;
  ASSERT_EQ(ReadBack(pieced, MakeEntry(data, pieced, kMethodDeflated), &sink), DataResult::kOk);
  EXPECT_EQ(sink.data, data);
  EXPECT_LT(static_cast<double>(pieced.size()), CompressInPieces(data, data.size(), 9).size() * 1.02);
  // zlib itself reads the result as one raw deflate stream.
  EXPECT_EQ(InflateWithZlib(pieced, data.size()), data);
}

// zlib's raw deflate of data at a level.
size_t ZlibSize(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  const size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

TEST(ZipPieces, LevelNineIsRepeatableAndNoLargerThanZlibsBest) {
  const std::string data = Corpus(600 * 1024, 3);
  const std::string other = Corpus(300 * 1024, 4);
  // A compressor reused from piece to piece gives the same bytes as a fresh one:
  // resetting it must not fall back to other search limits.
  PieceCompressor used(9);
  std::string scratch;
  used.Compress(other, true, &scratch);
  std::string again;
  used.Compress(data, true, &again);
  std::string fresh;
  PieceCompressor(9).Compress(data, true, &fresh);
  EXPECT_EQ(again, fresh);

  // The level asked for means zlib's scale: the faster libdeflate level it maps to
  // must still write about as little as zlib's level 9, also on data with many
  // long repeats, where that level alone would write half as much again.
  EXPECT_LE(static_cast<double>(fresh.size()), ZlibSize(data, 9) * 1.02);
  EXPECT_LT(fresh.size(), data.size() / 2);
  // A whole file goes through libdeflate: zlib reads it as one stream.
  EXPECT_EQ(InflateWithZlib(fresh, data.size()), data);
}

// Stretches of bytes that do not compress go into stored blocks, wherever they
// fall in the pieces; bytes as even but repeated are still compressed.
TEST(ZipPieces, IncompressibleStretchesAreStoredRepeatsAreNot) {
  std::mt19937 rng(7);
  const auto noise = [&](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  };
  const std::string random = noise(300 * 1024 + 5);
  const std::string block = noise(1500);
  std::string repeated;
  while (repeated.size() < 256 * 1024) repeated += block;
  const std::string text = Corpus(200 * 1024, 8);
  const std::string mixed = text + random + repeated + text;
  struct Case {
    const std::string& data;
    size_t most;  // the compressed size must not exceed this
  } cases[] = {
      {random, random.size() + random.size() / 1000},
      {repeated, repeated.size() / 20},
      {mixed, random.size() + random.size() / 1000 + ZlibSize(text, 9) * 3 + repeated.size() / 20},
  };
  for (const Case& c : cases) {
    for (size_t piece : {c.data.size(), size_t{100 * 1024 + 3}}) {
      const std::string pieced = CompressInPieces(c.data, piece, 9);
      EXPECT_LE(pieced.size(), c.most) << c.data.size() << " in pieces of " << piece;
      EXPECT_EQ(InflateWithZlib(pieced, c.data.size()), c.data);
    }
    std::unique_ptr<char[]> buffer;
    const std::string whole(PieceCompressor(9).CompressWhole(c.data, &buffer));
    EXPECT_LE(whole.size(), c.most);
    EXPECT_EQ(InflateWithZlib(whole, c.data.size()), c.data);
  }
}

// Many small pieces end at every bit position; bytes that do not compress go in
// stored blocks.
TEST(ZipPieces, EmptyTinyAndIncompressibleInputs) {
  std::mt19937 rng(5);
  std::string noise(9000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  for (const std::string& data : {std::string(), std::string("a"), Corpus(70000, 2), noise}) {
    const std::string compressed = CompressInPieces(data, 1000, 6);
    Collect sink;
    EXPECT_EQ(ReadBack(compressed, MakeEntry(data, compressed, kMethodDeflated), &sink), DataResult::kOk);
    EXPECT_EQ(sink.data, data);
  }
}

// Entries inflated whole and entries inflated in a stream.
class ZipEntryDamage : public ::testing::TestWithParam<size_t> {};
INSTANTIATE_TEST_SUITE_P(WholeAndStreamed, ZipEntryDamage,
                         ::testing::Values(size_t{200000}, size_t{kWholeInflateLimit + 5000}));

TEST_P(ZipEntryDamage, IsFoundNeverPassedOn) {
  const std::string data = Corpus(GetParam(), 3);
  const std::string compressed = CompressInPieces(data, data.size(), 9);
  const Entry good = MakeEntry(data, compressed, kMethodDeflated);

  // A flipped byte anywhere: the stream breaks or the CRC disagrees.
  for (size_t at : {size_t{0}, compressed.size() / 3, compressed.size() / 2, compressed.size() - 2}) {
    std::string bad = compressed;
    bad[at] = static_cast<char>(bad[at] ^ 0x55);
    Collect sink;
    const DataResult r = ReadBack(bad, good, &sink);
    EXPECT_NE(r, DataResult::kOk) << at;
    EXPECT_LE(sink.data.size(), data.size());
  }

  // Declared smaller than it inflates: stops at the declared size.
  Entry small = good;
  small.uncompressedSize = 1000;
  Collect sink;
  EXPECT_EQ(ReadBack(compressed, small, &sink), DataResult::kTooLong);
  EXPECT_LE(sink.data.size(), 1000u);

  Entry large = good;
  large.uncompressedSize = data.size() + 1;
  Collect sink2;
  EXPECT_EQ(ReadBack(compressed, large, &sink2), DataResult::kTooShort);

  Entry wrongCrc = good;
  wrongCrc.crc ^= 1;
  Collect sink3;
  EXPECT_EQ(ReadBack(compressed, wrongCrc, &sink3), DataResult::kCrcMismatch);

  // The data is cut short: the stream does not end.
  Entry cut = good;
  cut.compressedSize = compressed.size() / 2;
  Collect sink4;
  EXPECT_EQ(ReadBack(compressed.substr(0, cut.compressedSize), cut, &sink4), DataResult::kCorrupt);

  // Declared longer than the archive holds.
  Entry beyond = good;
  beyond.compressedSize = compressed.size() + 100;
  Collect sink5;
  EXPECT_EQ(ReadBack(compressed, beyond, &sink5), DataResult::kReadFailed);
}

TEST(ZipEntryData, ABombStopsAtItsDeclaredSize) {
  const std::string zeros(50 * 1024 * 1024, '\0');
  const std::string compressed = CompressInPieces(zeros, zeros.size(), 9);
  ASSERT_LT(compressed.size(), 100000u);
  Entry e = MakeEntry(zeros, compressed, kMethodDeflated);
  e.uncompressedSize = 4096;
  Collect sink;
  EXPECT_EQ(ReadBack(compressed, e, &sink), DataResult::kTooLong);
  EXPECT_LE(sink.data.size(), 4096u);
}

TEST(ZipEntryData, StoredDataAndAStoppingSink) {
  const std::string data = Corpus(300000, 4);
  Entry e = MakeEntry(data, data, kMethodStored);
  Collect sink;
  EXPECT_EQ(ReadBack(data, e, &sink), DataResult::kOk);
  EXPECT_EQ(sink.data, data);

  Collect limited;
  limited.limit = 1000;
  EXPECT_EQ(ReadBack(data, e, &limited), DataResult::kStopped);
  const std::string compressed = CompressInPieces(data, data.size(), 1);
  Collect limited2;
  limited2.limit = 1000;
  EXPECT_EQ(ReadBack(compressed, MakeEntry(data, compressed, kMethodDeflated), &limited2),
            DataResult::kStopped);

  e.uncompressedSize += 1;  // stored sizes that differ
  Collect sink2;
  EXPECT_EQ(ReadBack(data, e, &sink2), DataResult::kTooShort);
}

// Platform-dependent on purpose: the lock and condition variable under the pool are
// the C++ library's natively and Windows' slim ones in the mingw-w64 builds.
TEST(ZipWorkers, RunsEveryTaskAndSignalsTheWaiter) {
  Signal signal;
  int done = 0;
  std::atomic<int> sum{0};
  {
    WorkerPool pool(3);
    EXPECT_EQ(pool.Threads(), 3u);
    for (int i = 1; i <= 200; ++i) {
      pool.Submit([&, i] {
        sum += i;
        auto lock = signal.Lock();
        ++done;
        signal.Notify();
      });
    }
    auto lock = signal.Lock();
    signal.Wait(lock, [&] { return done == 200; });
  }
  EXPECT_EQ(sum.load(), 200 * 201 / 2);
  // A task that throws does not take its thread down.
  std::atomic<int> after{0};
  {
    WorkerPool pool(1);
    pool.Submit([] { throw std::runtime_error("x"); });
    pool.Submit([&] { ++after; });
  }
  EXPECT_EQ(after.load(), 1);
}
