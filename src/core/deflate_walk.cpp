#include "core/deflate_walk.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace vk::zip {

namespace {

constexpr unsigned kMaxCodeLength = 15;
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                        33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A table entry: the symbol in bits 16-31 and its code's length in bits 0-3 (0: no
// such code), so that the length is what the bits are shifted by; or, with kLink, the
// offset of a second-level table in bits 16-31 and its index bits in 8-11, for codes
// longer than the first level's index.
constexpr uint32_t kLink = 1u << 7;
constexpr unsigned Length(uint32_t e) { return e & 15; }
constexpr unsigned Value(uint32_t e) { return e >> 16; }

// `limit` ends the buffer that a and b (below a) lie in; a limit at a reads no word
// beyond the n bytes.
bool Same(const uint8_t* a, const uint8_t* b, size_t n, const uint8_t* limit) {
  // Compared, not copied: a match that overlaps its own source is checked byte for
  // byte as an inflater would produce it, whichever way the words fall.
  uint64_t x, y;
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return false;
  }
  if (n == 0) return true;
  if (limit - a >= 8) {  // the short rest as one word, its bytes beyond masked off
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    return ((x ^ y) << (64 - 8 * n)) == 0;
  }
  for (; n > 0; --n)
    if (*a++ != *b++) return false;
  return true;
}

template <size_t Capacity>
class Table {
 public:
  // False when the lengths form no code that zlib accepts: oversubscribed, or
  // incomplete beyond a single code of one bit (and no code at all, for the code
  // lengths' own code).
  bool Build(const uint8_t* lengths, unsigned n, unsigned primaryBits, bool codeLengths) {
    unsigned count[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    unsigned maxLength = 0;
    int left = 1;
    for (unsigned l = 1; l <= kMaxCodeLength; ++l) {
      left = left * 2 - static_cast<int>(count[l]);
      if (left < 0) return false;
      if (count[l]) maxLength = l;
    }
    bits_ = primaryBits;
    std::fill(entries_, entries_ + (size_t{1} << bits_), 0u);
    if (maxLength == 0) return !codeLengths;
    if (left > 0 && (codeLengths || maxLength != 1)) return false;

    unsigned next[kMaxCodeLength + 1] = {};
    for (unsigned l = 1, code = 0; l <= kMaxCodeLength; ++l) next[l] = code = (code + count[l - 1]) << 1;
    const uint32_t mask = (1u << bits_) - 1;
    uint16_t reversed[288];
    uint8_t longest[1 << 11] = {};  // per first-level slot: the longest code through it
    bool anyLong = false;
    for (unsigned s = 0; s < n; ++s) {
      const unsigned l = lengths[s];
      if (!l) continue;
      unsigned code = next[l]++, r = 0;
      for (unsigned i = 0; i < l; ++i, code >>= 1) r = (r << 1) | (code & 1);
      reversed[s] = static_cast<uint16_t>(r);
      if (l <= bits_) {
        for (unsigned i = r; i <= mask; i += 1u << l) entries_[i] = s << 16 | l;
      } else {
        longest[r & mask] = static_cast<uint8_t>(std::max<unsigned>(longest[r & mask], l));
        anyLong = true;
      }
    }
    if (!anyLong) return true;
    size_t used = size_t{1} << bits_;
    for (unsigned slot = 0; slot <= mask; ++slot) {
      if (!longest[slot]) continue;
      const unsigned subBits = longest[slot] - bits_;
      if (used + (size_t{1} << subBits) > Capacity) return false;
      entries_[slot] = static_cast<uint32_t>(used) << 16 | subBits << 8 | kLink;
      std::fill(entries_ + used, entries_ + used + (size_t{1} << subBits), 0u);
      used += size_t{1} << subBits;
    }
    for (unsigned s = 0; s < n; ++s) {
      const unsigned l = lengths[s];
      if (l <= bits_) continue;
      const uint32_t link = entries_[reversed[s] & mask];
      const unsigned subBits = (link >> 8) & 15;
      for (unsigned i = reversed[s] >> bits_; i < (1u << subBits); i += 1u << (l - bits_))
        entries_[Value(link) + i] = s << 16 | l;
    }
    return true;
  }

  // The entry for the next bits of the stream, which hold at least 15 bits.
  uint32_t Lookup(uint64_t bits) const {
    const uint32_t e = entries_[bits & ((1u << bits_) - 1)];
    if (!(e & kLink)) return e;
    return entries_[Value(e) + ((bits >> bits_) & ((1u << ((e >> 8) & 15)) - 1))];
  }

 private:
  unsigned bits_ = 0;
  uint32_t entries_[Capacity];
};

// Room for the first level and, per symbol longer than it, one second-level table.
using LitLenTable = Table<(1 << 11) + 288 * (1 << 4)>;
using DistanceTable = Table<(1 << 8) + 32 * (1 << 7)>;
using CodeLengthTable = Table<1 << 7>;
constexpr unsigned kLitLenBits = 11, kDistanceBits = 8;

struct FixedTables {
  LitLenTable litLen;
  DistanceTable distance;
  FixedTables() {
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    litLen.Build(lengths, 288, kLitLenBits, false);
    std::fill(lengths, lengths + 32, 5);
    distance.Build(lengths, 32, kDistanceBits, false);
  }
};

// Bits from the least significant end, as deflate packs them. Past the end of the
// data it reads zeros and counts them, so that a block that ends beyond is refused.
class BitReader {
 public:
  explicit BitReader(std::string_view data)
      : begin_(reinterpret_cast<const uint8_t*>(data.data())), p_(begin_), end_(begin_ + data.size()) {}

  // At least 56 bits are held afterwards.
  void Refill() {
    if (held_ > 56) return;
    if (end_ - p_ >= 8) {
      // A whole word: the bytes beyond what counts as held are loaded again, to the
      // same places, by the next refill.
      uint64_t word;
      std::memcpy(&word, p_, 8);
      bits_ |= word << held_;
      p_ += (63 - held_) >> 3;
      held_ |= 56;
      return;
    }
    for (; held_ <= 56; held_ += 8) {
      if (p_ < end_) {
        bits_ |= uint64_t{*p_++} << held_;
      } else {
        ++beyond_;
      }
    }
  }
  uint64_t Peek() const { return bits_; }
  void Drop(unsigned n) {
    bits_ >>= n;
    held_ -= n;
  }
  uint32_t Take(unsigned n) {
    const auto v = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
    Drop(n);
    return v;
  }
  uint64_t Position() const { return (static_cast<uint64_t>(p_ - begin_) + beyond_) * 8 - held_; }
  uint64_t Size() const { return static_cast<uint64_t>(end_ - begin_) * 8; }
  const uint8_t* Data() const { return begin_; }
  // Goes on at a byte of the data (within it).
  void Seek(uint64_t byte) {
    p_ = begin_ + byte;
    bits_ = 0;
    held_ = 0;
    beyond_ = 0;
  }

 private:
  const uint8_t* begin_;
  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  unsigned held_ = 0;
  uint64_t beyond_ = 0;
};

struct WalkTables {
  LitLenTable litLen;
  DistanceTable distance;
  CodeLengthTable codeLengths;
};

class Walker {
 public:
  Walker(std::string_view data, std::string_view expected, WalkTables& tables)
      : in_(data),
        expected_(reinterpret_cast<const uint8_t*>(expected.data())),
        size_(expected.size()),
        litLen_(tables.litLen),
        distance_(tables.distance),
        codeLengths_(tables.codeLengths) {}

  bool Run(DeflateWalk* walk) {
    while (true) {
      in_.Refill();
      const uint64_t header = in_.Position();
      if (header >= in_.Size()) return false;
      const bool final = in_.Take(1) != 0;
      bool ok = false;
      switch (in_.Take(2)) {
        case 0: ok = Stored(); break;
        case 1: {
          static const FixedTables fixed;
          ok = Codes(fixed.litLen, fixed.distance);
          break;
        }
        case 2: ok = Dynamic(); break;
        default: return false;
      }
      const uint64_t end = in_.Position();
      if (!ok || end > in_.Size()) return false;
      *walk = DeflateWalk{header, end, final};
      if (final || end == in_.Size()) return produced_ == size_;
    }
  }

 private:
  bool Stored() {
    if (const auto partial = static_cast<unsigned>(in_.Position() % 8)) in_.Drop(8 - partial);
    const uint64_t at = in_.Position() / 8;
    if (in_.Size() / 8 < at + 4) return false;
    const uint8_t* h = in_.Data() + at;
    const unsigned length = h[0] | h[1] << 8;
    if (static_cast<unsigned>(h[2] | h[3] << 8) != (~length & 0xFFFF)) return false;
    if (in_.Size() / 8 - (at + 4) < length || size_ - produced_ < length) return false;
    if (!Same(h + 4, expected_ + produced_, length, h + 4)) return false;
    produced_ += length;
    in_.Seek(at + 4 + length);
    return true;
  }

  bool Dynamic() {
    const unsigned litLenCount = in_.Take(5) + 257;
    const unsigned distanceCount = in_.Take(5) + 1;
    const unsigned codeLengthCount = in_.Take(4) + 4;
    if (litLenCount > 286 || distanceCount > 30) return false;
    uint8_t lengths[286 + 30] = {};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
      in_.Refill();
      lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in_.Take(3));
    }
    if (!codeLengths_.Build(lengths, 19, 7, true)) return false;
    std::fill(lengths, lengths + 19, 0);
    for (unsigned n = 0; n < litLenCount + distanceCount;) {
      in_.Refill();
      const uint32_t e = codeLengths_.Lookup(in_.Peek());
      if (!Length(e)) return false;
      in_.Drop(Length(e));
      const unsigned symbol = Value(e);
      if (symbol < 16) {
        lengths[n++] = static_cast<uint8_t>(symbol);
        continue;
      }
      uint8_t value = 0;
      unsigned repeat;
      if (symbol == 16) {
        if (n == 0) return false;
        value = lengths[n - 1];
        repeat = 3 + in_.Take(2);
      } else if (symbol == 17) {
        repeat = 3 + in_.Take(3);
      } else {
        repeat = 11 + in_.Take(7);
      }
      if (repeat > litLenCount + distanceCount - n) return false;
      std::fill(lengths + n, lengths + n + repeat, value);
      n += repeat;
    }
    if (lengths[256] == 0) return false;
    if (!litLen_.Build(lengths, litLenCount, kLitLenBits, false)) return false;
    if (!distance_.Build(lengths + litLenCount, distanceCount, kDistanceBits, false)) return false;
    return Codes(litLen_, distance_);
  }

  bool Codes(const LitLenTable& litLen, const DistanceTable& distance) {
    // The hot loop works on copies, which the compiler keeps in registers.
    BitReader in = in_;
    size_t produced = produced_;
    const uint8_t* const expected = expected_;
    const size_t size = size_;
    const auto leave = [&](bool ok) {
      in_ = in;
      produced_ = produced;
      return ok;
    };
    while (true) {
      // Enough for the longest symbol: 15 + 5 bits of length, 15 + 13 of distance;
      // or for two literals.
      in.Refill();
      uint32_t e = litLen.Lookup(in.Peek());
      in.Drop(Length(e));
      if (Value(e) < 256 && Length(e)) {
        if (produced >= size || expected[produced] != Value(e)) return leave(false);
        ++produced;
        e = litLen.Lookup(in.Peek());
        in.Drop(Length(e));
        if (Value(e) < 256 && Length(e)) {
          if (produced >= size || expected[produced] != Value(e)) return leave(false);
          ++produced;
          continue;
        }
        in.Refill();
      }
      if (!Length(e)) return leave(false);
      const unsigned symbol = Value(e);
      if (symbol == 256) return leave(true);
      if (symbol > 285) return leave(false);
      const unsigned length = kLengthBase[symbol - 257] + in.Take(kLengthExtra[symbol - 257]);
      e = distance.Lookup(in.Peek());
      if (!Length(e)) return leave(false);
      in.Drop(Length(e));
      const unsigned code = Value(e);
      if (code >= 30) return leave(false);
      const unsigned span = kDistanceBase[code] + in.Take(kDistanceExtra[code]);
      if (span > produced || length > size - produced) return leave(false);
      if (!Same(expected + produced, expected + produced - span, length, expected + size)) return leave(false);
      produced += length;
    }
  }

  BitReader in_;
  const uint8_t* expected_;
  const size_t size_;
  size_t produced_ = 0;
  LitLenTable& litLen_;
  DistanceTable& distance_;
  CodeLengthTable& codeLengths_;
};

}  // namespace

struct DeflateWalker::Tables : WalkTables {};

DeflateWalker::DeflateWalker() : tables_(std::make_unique<Tables>()) {}
DeflateWalker::~DeflateWalker() = default;

bool DeflateWalker::Walk(std::string_view data, std::string_view expected, DeflateWalk* walk) {
  return Walker(data, expected, *tables_).Run(walk);
}

bool WalkDeflate(std::string_view data, std::string_view expected, DeflateWalk* walk) {
  return DeflateWalker().Walk(data, expected, walk);
}

}  // namespace vk::zip
