#include "core/deflate_walk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

using namespace vk::zip;

namespace {

std::string Text(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"Kestrone ", "Sicherung ", "alpha=", "12345 ", "\r\n", "[Fenster]", "beta "};
  std::string s;
  while (s.size() < size) {
    if (s.size() > 1000 && rng() % 8 == 0) {
      s.append(s, rng() % (s.size() - 600), 3 + rng() % 300);  // near and far repeats, also overlapping
    } else {
      s += words[rng() % 7];
    }
  }
  s.resize(size);
  return s;
}

std::string Noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

struct Stream {
  std::string data;
  uint64_t lastHeader = 0, end = 0;  // as zlib's Z_BLOCK reports them
};

// Raw deflate by zlib, flushed (into further blocks) every `flushEvery` bytes.
Stream Deflate(const std::string& input, int level, int strategy, size_t flushEvery, int flush) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy);
  std::string out(deflateBound(&z, input.size()) + 64 * (input.size() / flushEvery + 2), '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  for (size_t at = 0;; at += flushEvery) {
    const size_t n = std::min(flushEvery, input.size() - std::min(at, input.size()));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + std::min(at, input.size())));
    z.avail_in = static_cast<uInt>(n);
    const bool last = at + n >= input.size();
    deflate(&z, last ? Z_FINISH : flush);
    if (last) break;
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  return {out};
}

// Where zlib sees the last block begin and end, or false when it does not inflate
// the data to exactly `expected`, ending the stream.
bool ZlibBlocks(const std::string& data, const std::string& expected, uint64_t* header, uint64_t* end) {
  z_stream z{};
  inflateInit2(&z, -15);
  std::string out(expected.size() + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    rc = inflate(&z, Z_BLOCK);
    if (rc == Z_OK && (z.data_type & 128)) {
      const uint64_t at = uint64_t{z.total_in} * 8 - (z.data_type & 7);
      if (z.data_type & 64) {
        *end = at;
      } else {
        *header = at;
      }
    }
  }
  const bool whole = rc == Z_STREAM_END && z.total_out == expected.size() &&
                     out.compare(0, expected.size(), expected) == 0;
  inflateEnd(&z);
  return whole;
}

}  // namespace

// Blocks of every kind (stored, fixed, dynamic; empty flush blocks between them) at
// zlib's levels and strategies: the walk ends where zlib's Z_BLOCK says the last block
// begins and ends, and any changed byte of the expected data is refused.
TEST(DeflateWalk, FindsZlibsLastBlockAndRefusesOtherBytes) {
  const std::string mixed = Text(70000, 2) + Noise(40000, 3) + std::string(50000, 'x') + Text(9000, 4);
  struct Case {
    const char* what;
    std::string input;
    int level, strategy;
    size_t flushEvery;
    int flush;
  } cases[] = {
      {"text, best", Text(300000, 1), 9, Z_DEFAULT_STRATEGY, SIZE_MAX, Z_NO_FLUSH},
      {"text, fast, synced", Text(200000, 5), 1, Z_DEFAULT_STRATEGY, 30000, Z_SYNC_FLUSH},
      {"text, fixed codes", Text(100000, 6), 6, Z_FIXED, 40000, Z_BLOCK},
      {"text, Huffman only", Text(100000, 7), 6, Z_HUFFMAN_ONLY, SIZE_MAX, Z_NO_FLUSH},
      {"runs", std::string(100000, '\0') + Text(1000, 8), 9, Z_RLE, 20000, Z_FULL_FLUSH},
      {"mixed", mixed, 6, Z_DEFAULT_STRATEGY, 25000, Z_SYNC_FLUSH},
      {"noise", Noise(150000, 9), 9, Z_DEFAULT_STRATEGY, SIZE_MAX, Z_NO_FLUSH},
      {"stored", Text(150000, 10), 0, Z_DEFAULT_STRATEGY, 70000, Z_FULL_FLUSH},
      {"one byte", "k", 9, Z_DEFAULT_STRATEGY, SIZE_MAX, Z_NO_FLUSH},
      {"empty", "", 9, Z_DEFAULT_STRATEGY, SIZE_MAX, Z_NO_FLUSH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Stream s = Deflate(c.input, c.level, c.strategy, c.flushEvery, c.flush);
    uint64_t header = 0, end = 0;
    ASSERT_TRUE(ZlibBlocks(s.data, c.input, &header, &end));
    DeflateWalk walk;
    ASSERT_TRUE(WalkDeflate(s.data, c.input, &walk));
    EXPECT_TRUE(walk.final);
    EXPECT_EQ(walk.lastHeader, header);
    EXPECT_EQ(walk.end, end);
    if (c.input.empty()) continue;
    for (size_t at : {size_t{0}, c.input.size() / 3, c.input.size() - 1}) {
      std::string other = c.input;
      other[at] = static_cast<char>(other[at] ^ 0x20);
      EXPECT_FALSE(WalkDeflate(s.data, other, &walk)) << "byte " << at;
    }
    EXPECT_FALSE(WalkDeflate(s.data, c.input + "!", &walk)) << "longer";
    EXPECT_FALSE(WalkDeflate(s.data, c.input.substr(0, c.input.size() - 1), &walk)) << "shorter";
    EXPECT_FALSE(WalkDeflate(s.data.substr(0, s.data.size() - 1), c.input, &walk)) << "cut short";
  }
}

// A stream that ends after a block not marked last ends exactly at its data's end;
// so do pieces joined with an empty stored block between them.
TEST(DeflateWalk, StopsWhereTheDataEndAfterABlockNotLast) {
  const std::string input = Text(50000, 11);
  // A full flush ends with an empty stored block on a byte boundary.
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, input.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FULL_FLUSH);
  out.resize(z.total_out);
  deflateEnd(&z);
  DeflateWalk walk;
  ASSERT_TRUE(WalkDeflate(out, input, &walk));
  EXPECT_FALSE(walk.final);
  EXPECT_EQ(walk.end, out.size() * 8);
  // The last block is the empty stored one: three bits, the rest of their byte, LEN and NLEN.
  EXPECT_GE(walk.lastHeader, out.size() * 8 - 40);
  EXPECT_LT(walk.lastHeader, out.size() * 8 - 32);
  EXPECT_FALSE(WalkDeflate(out + "\x03", input, &walk)) << "a block that ends beyond the data";
}

// Damage anywhere in the compressed data: the walk accepts exactly what zlib inflates
// to the expected bytes (a flip in a literal's code is refused by both, one in an
// unused code may be harmless to both), and never reads past the data.
TEST(DeflateWalk, AgreesWithZlibOnDamagedStreams) {
  const std::string input = Text(20000, 12) + Noise(3000, 13) + Text(20000, 14);
  const Stream s = Deflate(input, 9, Z_DEFAULT_STRATEGY, 15000, Z_SYNC_FLUSH);
  std::mt19937 rng(15);
  int refused = 0;
  for (int i = 0; i < 400; ++i) {
    std::string damaged = s.data;
    const size_t bit = rng() % (damaged.size() * 8);
    damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
    uint64_t header = 0, end = 0;
    const bool zlib = ZlibBlocks(damaged, input, &header, &end);
    DeflateWalk walk;
    const bool walked = WalkDeflate(damaged, input, &walk) && walk.final;
    EXPECT_EQ(walked, zlib) << "bit " << bit;
    refused += !walked;
  }
  EXPECT_GT(refused, 350);
}
