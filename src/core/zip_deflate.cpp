#include "core/zip_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/deflate_walk.h"

namespace vk::zip {

namespace {
constexpr int kRawWindowBits = -15;
constexpr size_t kIoBuffer = 128 * 1024;
// Stretches judged at a time for whether deflate can shrink them.
constexpr size_t kSegment = 32 * 1024;
constexpr size_t kStoredBlock = 65535;
// Compressed again at the level asked for: at least this much data, shrunk to
// less than 1 / kDeepRatio by the faster level.
constexpr size_t kDeepMinimum = 4096;
constexpr size_t kDeepRatio = 8;

// True when deflate would save next to nothing on these bytes (data already
// compressed or encrypted): their byte values are almost evenly spread, and hardly
// any four bytes recur. Costs a small fraction of compressing them, which for such
// bytes takes as long as for text and gains nothing.
bool Incompressible(std::string_view s) {
  if (s.size() < kSegment / 2) return false;
  // Every fourth byte is enough to tell an even spread from a skewed one.
  uint32_t counts[256] = {};
  for (size_t i = 0; i < s.size(); i += 4) ++counts[static_cast<unsigned char>(s[i])];
  const double n = static_cast<double>((s.size() + 3) / 4);
  double bits = 0;
  for (uint32_t c : counts)
    if (c) bits -= c * std::log2(c / n);
  if (bits < 7.9 * n) return false;
  // A block of such bytes repeated (an embedded table, a copied resource) looks
  // even too, yet deflate shrinks it to almost nothing.
  uint16_t last[1 << 12] = {};  // 1 + the position of each hash's last four bytes
  size_t repeats = 0;
  const auto* b = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i + 4 <= s.size(); ++i) {
    uint32_t v;
    std::memcpy(&v, b + i, 4);
    const uint32_t h = (v * 2654435761u) >> 20;
    if (last[h] && std::memcmp(b + last[h] - 1, b + i, 4) == 0) ++repeats;
    last[h] = static_cast<uint16_t>(i + 1);
  }
  return repeats < s.size() / 64;
}

// Stored blocks of these bytes, from a byte boundary; the last one ends the stream
// when `final`.
void AppendStored(std::string_view input, bool final, std::string* out) {
  do {
    const size_t n = std::min(input.size(), kStoredBlock);
    const bool end = final && n == input.size();
    const char header[5] = {static_cast<char>(end ? 1 : 0), static_cast<char>(n & 0xFF),
                            static_cast<char>(n >> 8), static_cast<char>(~n & 0xFF),
                            static_cast<char>((~n >> 8) & 0xFF)};
    out->append(header, 5);
    out->append(input.data(), n);
    input.remove_prefix(n);
  } while (!input.empty());
}

// Every piece of compressed data is proved right after it is made, while its bytes
// are at hand: the archive's read-back check then needs to find only these very
// bytes in the file, not inflate them again. True when `data` reproduces `input`
// and, when `final`, ends the stream in its last byte, else ends on a byte boundary
// with the stream going on.
DeflateWalk Prove(DeflateWalker& walker, std::string_view data, std::string_view input, bool final) {
  DeflateWalk walk;
  if (!walker.Walk(data, input, &walk) || walk.final != final ||
      (final ? (walk.end + 7) / 8 != data.size() : walk.end != uint64_t{data.size()} * 8))
    throw std::logic_error("compressed data that do not reproduce their input");
  return walk;
}

}  // namespace

int LibdeflateLevel(int zlibLevel) {
  static constexpr int kLevels[10] = {1, 1, 2, 2, 3, 3, 3, 4, 4, 4};
  return kLevels[std::clamp(zlibLevel, 1, 9)];
}

PieceCompressor::PieceCompressor(int level) : level_(LibdeflateLevel(level)), deepLevel_(std::clamp(level, 1, 9)) {}

PieceCompressor::~PieceCompressor() {
  if (whole_) libdeflate_free_compressor(whole_);
  if (deep_) libdeflate_free_compressor(deep_);
}

size_t PieceCompressor::Bound(size_t size) {
  if (!whole_ && !(whole_ = libdeflate_alloc_compressor(level_))) throw std::bad_alloc();
  if (deepLevel_ > level_ && !deep_ && !(deep_ = libdeflate_alloc_compressor(deepLevel_))) throw std::bad_alloc();
  size_t bound = libdeflate_deflate_compress_bound(whole_, size);
  if (deep_) bound = std::max(bound, libdeflate_deflate_compress_bound(deep_, size));
  return bound;
}

size_t PieceCompressor::Deflate(std::string_view input, char* to, size_t room) {
  size_t n = libdeflate_deflate_compress(whole_, input.data(), input.size(), to, room);
  // Data that shrinks this much holds long and frequent repeats, where the faster
  // level's shorter search falls far behind (by half, against zlib's best); the
  // near-optimal parse then pays, and such data is quick to compress anyway.
  if (deep_ && n > 0 && input.size() >= kDeepMinimum && n < input.size() / kDeepRatio)
    n = libdeflate_deflate_compress(deep_, input.data(), input.size(), to, room);
  if (n == 0) throw std::bad_alloc();  // cannot happen within the bound
  return n;
}

std::string_view PieceCompressor::CompressWhole(std::string_view input, std::unique_ptr<char[]>* buffer) {
  if (input.size() > kSegment) {
    // Seldom: a file partly of bytes that do not compress.
    for (size_t at = 0; at < input.size(); at += kSegment) {
      if (!Incompressible(input.substr(at, kSegment))) continue;
      std::string mixed;
      Compress(input, true, &mixed);
      buffer->reset(new char[mixed.size()]);
      std::memcpy(buffer->get(), mixed.data(), mixed.size());
      return std::string_view(buffer->get(), mixed.size());
    }
  }
  const size_t bound = Bound(input.size());
  buffer->reset(new char[bound]);
  const std::string_view data(buffer->get(), Deflate(input, buffer->get(), bound));
  Prove(walker_, data, input, true);
  return data;
}

void PieceCompressor::Compress(std::string_view input, bool last, std::string* out) {
  // Stretches that deflate cannot shrink go into stored blocks; the rest is
  // compressed a run at a time.
  std::vector<bool> raw;
  for (size_t at = 0; at < input.size(); at += kSegment) raw.push_back(Incompressible(input.substr(at, kSegment)));
  if (raw.empty()) raw.push_back(false);
  for (size_t first = 0; first < raw.size();) {
    size_t end = first + 1;
    while (end < raw.size() && raw[end] == raw[first]) ++end;
    const std::string_view run = input.substr(first * kSegment, (end - first) * kSegment);
    const bool final = last && end == raw.size();
    if (raw[first]) {
      const size_t start = out->size();
      AppendStored(run, final, out);
      Prove(walker_, std::string_view(*out).substr(start), run, final);
    } else {
      Deflate(run, final, out);
    }
    first = end;
  }
}

void PieceCompressor::Deflate(std::string_view input, bool last, std::string* out) {
  const size_t start = out->size();
  const size_t bound = Bound(input.size());
  out->resize(start + bound);
  out->resize(start + Deflate(input, out->data() + start, bound));
  const DeflateWalk walk = Prove(walker_, std::string_view(*out).substr(start), input, true);
  if (last) return;
  // libdeflate ends every buffer with a final block. That block becomes an ordinary
  // one, and an empty stored block (three zero bits, zeros to the byte boundary,
  // LEN 0, NLEN 0xFFFF) brings the stream to a byte boundary, where the next
  // piece's blocks go on. Only the last block's flag and the bits after its end
  // change: what was proved stays proved.
  const uint64_t header = walk.lastHeader, end = walk.end;
  std::string& o = *out;
  o[start + header / 8] = static_cast<char>(o[start + header / 8] & ~(1 << (header % 8)));
  if (end % 8) o[start + end / 8] = static_cast<char>(o[start + end / 8] & ((1 << (end % 8)) - 1));
  o.resize(start + (end + 3 + 7) / 8, '\0');
  o.append("\x00\x00\xFF\xFF", 4);
}

const char* DataResultText(DataResult result) {
  switch (result) {
    case DataResult::kOk: return "";
    case DataResult::kReadFailed: return "das Archiv kann nicht gelesen werden";
    case DataResult::kWriteFailed: return "die Daten können nicht geschrieben werden";
    case DataResult::kCorrupt: return "die komprimierten Daten sind fehlerhaft";
    case DataResult::kTooLong: return "die Daten sind länger als angegeben";
    case DataResult::kTooShort: return "die Daten sind kürzer als angegeben";
    case DataResult::kCrcMismatch: return "die CRC-32-Prüfsumme stimmt nicht";
    case DataResult::kStopped: return "abgebrochen";
  }
  return "";
}

namespace {

DataResult SinkFailure(const DataSink& sink) {
  return sink.Stopped() ? DataResult::kStopped : DataResult::kWriteFailed;
}

}  // namespace

EntryReader::EntryReader() : in_(kIoBuffer, '\0'), out_(kIoBuffer, '\0') {}

EntryReader::~EntryReader() {
  if (inflater_) {
    inflateEnd(inflater_);
    delete inflater_;
  }
  if (wholeInflater_) libdeflate_free_decompressor(wholeInflater_);
}

DataResult EntryReader::Read(RandomAccess& file, const Entry& entry, DataSink& sink) {
  if (entry.method == kMethodStored) return ReadStored(file, entry, sink);
  if (entry.uncompressedSize <= kWholeInflateLimit && entry.compressedSize <= kWholeInflateLimit)
    return InflateWhole(file, entry, sink);
  return ReadDeflated(file, entry, sink);
}

DataResult EntryReader::InflateWhole(RandomAccess& file, const Entry& entry, DataSink& sink) {
  if (!wholeInflater_ && !(wholeInflater_ = libdeflate_alloc_decompressor())) throw std::bad_alloc();
  const auto packed = static_cast<size_t>(entry.compressedSize);
  const auto size = static_cast<size_t>(entry.uncompressedSize);
  if (in_.size() < packed) in_.resize(packed);
  // One byte more than declared, to tell a longer stream from one that fits.
  if (out_.size() < size + 1) out_.resize(size + 1);
  if (!file.ReadAt(entry.dataOffset, in_.data(), packed)) return DataResult::kReadFailed;
  size_t used = 0, produced = 0;
  switch (libdeflate_deflate_decompress_ex(wholeInflater_, in_.data(), packed, out_.data(), size + 1, &used,
                                           &produced)) {
    case LIBDEFLATE_SUCCESS: break;
    case LIBDEFLATE_INSUFFICIENT_SPACE: return DataResult::kTooLong;
    default: return DataResult::kCorrupt;
  }
  if (produced > size) return DataResult::kTooLong;
  if (produced < size) return DataResult::kTooShort;
  if (size > 0 && !sink.Write(out_.data(), size)) return SinkFailure(sink);
  return Crc32(0, out_.data(), size) == entry.crc ? DataResult::kOk : DataResult::kCrcMismatch;
}

DataResult EntryReader::ReadStored(RandomAccess& file, const Entry& entry, DataSink& sink) {
  if (entry.compressedSize > entry.uncompressedSize) return DataResult::kTooLong;
  if (entry.compressedSize < entry.uncompressedSize) return DataResult::kTooShort;
  uint32_t crc = 0;
  uint64_t done = 0;
  while (done < entry.compressedSize) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(in_.size(), entry.compressedSize - done));
    if (!file.ReadAt(entry.dataOffset + done, in_.data(), n)) return DataResult::kReadFailed;
    crc = Crc32(crc, in_.data(), n);
    if (!sink.Write(in_.data(), n)) return SinkFailure(sink);
    done += n;
  }
  return crc == entry.crc ? DataResult::kOk : DataResult::kCrcMismatch;
}

DataResult EntryReader::ReadDeflated(RandomAccess& file, const Entry& entry, DataSink& sink) {
  if (!inflater_) {
    auto* s = new z_stream{};
    if (inflateInit2(s, kRawWindowBits) != Z_OK) {
      delete s;
      throw std::bad_alloc();
    }
    inflater_ = s;
  } else {
    inflateReset(inflater_);
  }
  z_stream& z = *inflater_;
  auto* in = reinterpret_cast<Bytef*>(in_.data());
  auto* out = reinterpret_cast<Bytef*>(out_.data());
  z.avail_in = 0;
  uint64_t readPos = 0;
  uint64_t produced = 0;
  uint32_t crc = 0;
  while (true) {
    if (z.avail_in == 0 && readPos < entry.compressedSize) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(in_.size(), entry.compressedSize - readPos));
      if (!file.ReadAt(entry.dataOffset + readPos, in, n)) return DataResult::kReadFailed;
      readPos += n;
      z.next_in = in;
      z.avail_in = static_cast<uInt>(n);
    }
    // Room for at most one byte beyond the declared size, to notice a bomb
    // without ever passing more than the declared size to the sink.
    const uint64_t room = entry.uncompressedSize - produced;
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room >= out_.size() ? out_.size() : room + 1);
    const uInt before = z.avail_out;
    const uInt inBefore = z.avail_in;
    const int rc = inflate(&z, Z_NO_FLUSH);
    const size_t n = before - z.avail_out;
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) return DataResult::kCorrupt;
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (produced + n > entry.uncompressedSize) return DataResult::kTooLong;
    if (n > 0) {
      crc = Crc32(crc, out, n);
      if (!sink.Write(out, n)) return SinkFailure(sink);
      produced += n;
    }
    if (rc == Z_STREAM_END) break;
    const bool stuck = n == 0 && z.avail_in == inBefore;
    if (stuck && (readPos >= entry.compressedSize || z.avail_in > 0)) return DataResult::kCorrupt;
  }
  if (produced < entry.uncompressedSize) return DataResult::kTooShort;
  return crc == entry.crc ? DataResult::kOk : DataResult::kCrcMismatch;
}

DataResult ReadEntryData(RandomAccess& file, const Entry& entry, DataSink& sink) {
  EntryReader reader;
  return reader.Read(file, entry, sink);
}

}  // namespace vk::zip
