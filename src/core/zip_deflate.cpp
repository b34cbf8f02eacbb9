#include "core/zip_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace vk::zip {

namespace {
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 9;
constexpr size_t kIoBuffer = 128 * 1024;
}  // namespace

PieceCompressor::PieceCompressor(int level) : stream_(new z_stream{}) {
  level = std::clamp(level, 1, 9);
  if (deflateInit2(stream_, level, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream_;
    throw std::bad_alloc();
  }
}

PieceCompressor::~PieceCompressor() {
  deflateEnd(stream_);
  delete stream_;
}

void PieceCompressor::Compress(std::string_view dictionary, std::string_view input, bool last,
                               std::string* out) {
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

DataResult ReadStored(RandomAccess& file, const Entry& entry, DataSink& sink) {
  if (entry.compressedSize > entry.uncompressedSize) return DataResult::kTooLong;
  if (entry.compressedSize < entry.uncompressedSize) return DataResult::kTooShort;
  std::vector<char> buffer(kIoBuffer);
  uint32_t crc = 0;
  uint64_t done = 0;
  while (done < entry.compressedSize) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.compressedSize - done));
    if (!file.ReadAt(entry.dataOffset + done, buffer.data(), n)) return DataResult::kReadFailed;
    crc = Crc32(crc, buffer.data(), n);
    if (!sink.Write(buffer.data(), n)) return SinkFailure(sink);
    done += n;
  }
  return crc == entry.crc ? DataResult::kOk : DataResult::kCrcMismatch;
}

struct InflateState {
  z_stream s{};
  bool ready = false;
  ~InflateState() {
    if (ready) inflateEnd(&s);
  }
};

DataResult ReadDeflated(RandomAccess& file, const Entry& entry, DataSink& sink) {
  InflateState state;
  if (inflateInit2(&state.s, kRawWindowBits) != Z_OK) throw std::bad_alloc();
  state.ready = true;
  std::vector<Bytef> in(kIoBuffer), out(kIoBuffer);
  uint64_t readPos = 0;
  uint64_t produced = 0;
  uint32_t crc = 0;
  while (true) {
    if (state.s.avail_in == 0 && readPos < entry.compressedSize) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(in.size(), entry.compressedSize - readPos));
      if (!file.ReadAt(entry.dataOffset + readPos, in.data(), n)) return DataResult::kReadFailed;
      readPos += n;
      state.s.next_in = in.data();
      state.s.avail_in = static_cast<uInt>(n);
    }
    // Room for at most one byte beyond the declared size, to notice a bomb
    // without ever passing more than the declared size to the sink.
    const uint64_t room = entry.uncompressedSize - produced;
    state.s.next_out = out.data();
    state.s.avail_out = static_cast<uInt>(room >= out.size() ? out.size() : room + 1);
    const uInt before = state.s.avail_out;
    const uInt inBefore = state.s.avail_in;
    const int rc = inflate(&state.s, Z_NO_FLUSH);
    const size_t n = before - state.s.avail_out;
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) return DataResult::kCorrupt;
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (produced + n > entry.uncompressedSize) return DataResult::kTooLong;
    if (n > 0) {
      crc = Crc32(crc, out.data(), n);
      if (!sink.Write(out.data(), n)) return SinkFailure(sink);
      produced += n;
    }
    if (rc == Z_STREAM_END) break;
    const bool stuck = n == 0 && state.s.avail_in == inBefore;
    if (stuck && (readPos >= entry.compressedSize || state.s.avail_in > 0)) return DataResult::kCorrupt;
  }
  if (produced < entry.uncompressedSize) return DataResult::kTooShort;
  return crc == entry.crc ? DataResult::kOk : DataResult::kCrcMismatch;
}

}  // namespace

DataResult ReadEntryData(RandomAccess& file, const Entry& entry, DataSink& sink) {
  if (entry.method == kMethodStored) return ReadStored(file, entry, sink);
  return ReadDeflated(file, entry, sink);
}

}  // namespace vk::zip
