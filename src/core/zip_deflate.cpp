#include "core/zip_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace vk::zip {

namespace {
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;
constexpr size_t kIoBuffer = 128 * 1024;
}  // namespace

PieceCompressor::PieceCompressor(int level) : level_(std::clamp(level, 1, 9)), stream_(new z_stream{}) {
  if (deflateInit2(stream_, level_, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream_;
    throw std::bad_alloc();
  }
}

PieceCompressor::~PieceCompressor() {
  deflateEnd(stream_);
  delete stream_;
  if (whole_) libdeflate_free_compressor(whole_);
}

std::string_view PieceCompressor::CompressWhole(std::string_view input, std::unique_ptr<char[]>* buffer) {
  // The same level number in both libraries: at 9 libdeflate writes less than zlib.
  if (!whole_ && !(whole_ = libdeflate_alloc_compressor(level_))) throw std::bad_alloc();
  const size_t bound = libdeflate_deflate_compress_bound(whole_, input.size());
  buffer->reset(new char[bound]);
  const size_t n = libdeflate_deflate_compress(whole_, input.data(), input.size(), buffer->get(), bound);
  if (n == 0) throw std::bad_alloc();  // cannot happen within the bound
  return std::string_view(buffer->get(), n);
}

void PieceCompressor::Compress(std::string_view dictionary, std::string_view input, bool last,
                               std::string* out) {
  if (dictionary.empty() && last) {
    std::unique_ptr<char[]> buffer;
    out->append(CompressWhole(input, &buffer));
    return;
  }
  deflateReset(stream_);
  if (!dictionary.empty()) {
    if (dictionary.size() > kDictionarySize) dictionary.remove_prefix(dictionary.size() - kDictionarySize);
    deflateSetDictionary(stream_, reinterpret_cast<const Bytef*>(dictionary.data()),
                         static_cast<uInt>(dictionary.size()));
  }
  const size_t start = out->size();
  // deflateBound covers the stream; a sync flush adds at most a few bytes more.
  out->resize(start + deflateBound(stream_, static_cast<uLong>(input.size())) + 16);
  stream_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream_->avail_in = static_cast<uInt>(input.size());
  size_t written = start;
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  while (true) {
    if (written == out->size()) out->resize(out->size() + kIoBuffer);
    stream_->next_out = reinterpret_cast<Bytef*>(out->data() + written);
    stream_->avail_out = static_cast<uInt>(out->size() - written);
    const int rc = deflate(stream_, flush);
    written = out->size() - stream_->avail_out;
    if (rc == Z_STREAM_END) break;
    if (!last && stream_->avail_in == 0 && stream_->avail_out != 0) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw std::bad_alloc();
  }
  out->resize(written);
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
