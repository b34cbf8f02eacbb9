#pragma once
// Compressing a file in independent pieces that still form one deflate stream, and
// reading an entry's data back with its size and CRC-32 checked. Pieces go through
// libdeflate, which compresses whole buffers faster and smaller than zlib, except
// for stretches that do not compress, which go into stored blocks as they are; a
// piece that is not the last is ended on a byte boundary without ending the
// stream. Entries up to kWholeInflateLimit are inflated whole by libdeflate too.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/deflate_walk.h"
#include "core/zip_directory.h"
#include "core/zip_format.h"

struct z_stream_s;
struct libdeflate_compressor;
struct libdeflate_decompressor;

namespace vk::zip {

// Entries whose data, packed and unpacked, fit this are read and inflated whole.
constexpr uint64_t kWholeInflateLimit = 2 << 20;

// The libdeflate level for a level on zlib's scale (1..9), the one callers ask for.
// On settings files, logs and program data libdeflate's lazy matching at 4 already
// writes less than zlib's best (9) and takes about half the time of its own
// near-optimal parsing (8, 9), which gains less than half a percent more. Data that
// compresses very well is compressed again at the level asked for (see Deflate).
int LibdeflateLevel(int zlibLevel);

// One per thread: keeps its libdeflate states and walker between pieces. Whatever it
// writes has been proved, by walking it, to reproduce its input (std::logic_error
// when it could not be).
class PieceCompressor {
 public:
  // level: on zlib's scale.
  explicit PieceCompressor(int level);
  ~PieceCompressor();
  PieceCompressor(const PieceCompressor&) = delete;
  PieceCompressor& operator=(const PieceCompressor&) = delete;

  // Appends the raw deflate data of one piece of a file to out; the last piece ends
  // the stream. A piece knows nothing of the bytes before it: what is lost is the
  // matches of its first 32 KiB into the piece before.
  void Compress(std::string_view input, bool last, std::string* out);
  // A whole file into a buffer of its own, allocated and not cleared: only the
  // pages the compressed data fill are ever touched. Returns the compressed data.
  std::string_view CompressWhole(std::string_view input, std::unique_ptr<char[]>* buffer);

 private:
  size_t Bound(size_t size);  // the room libdeflate may need for size bytes
  size_t Deflate(std::string_view input, char* to, size_t room);
  // Appends input's deflate blocks; unless last, ends them on a byte boundary
  // without ending the stream.
  void Deflate(std::string_view input, bool last, std::string* out);
  int level_;      // libdeflate's
  int deepLevel_;  // libdeflate's, for data that compresses very well
  DeflateWalker walker_;
  libdeflate_compressor* whole_ = nullptr;
  libdeflate_compressor* deep_ = nullptr;
};

enum class DataResult {
  kOk,
  kReadFailed,   // the archive could not be read
  kWriteFailed,  // the sink refused the data
  kCorrupt,      // not a valid deflate stream, or it ends before its declared end
  kTooLong,      // inflates beyond the declared size
  kTooShort,     // ends before the declared size
  kCrcMismatch,
  kStopped,      // the sink asked to stop
};
const char* DataResultText(DataResult result);

// Receives the entry's bytes in order; returns false to stop (see stopped).
class DataSink {
 public:
  virtual ~DataSink() = default;
  virtual bool Write(const void* data, size_t length) = 0;
  // Asked after a failed Write: true when the sink stopped on purpose.
  virtual bool Stopped() const { return false; }
};

// Streams an entry's data (stored or deflated) from file into sink with bounded
// buffers: never more than the declared size, which must match exactly, and the
// CRC-32 must agree. dataOffset must have been located. Keeps its buffers and zlib
// state from one entry to the next: one per thread.
class EntryReader {
 public:
  EntryReader();
  ~EntryReader();
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  DataResult Read(RandomAccess& file, const Entry& entry, DataSink& sink);

 private:
  DataResult ReadStored(RandomAccess& file, const Entry& entry, DataSink& sink);
  DataResult ReadDeflated(RandomAccess& file, const Entry& entry, DataSink& sink);
  DataResult InflateWhole(RandomAccess& file, const Entry& entry, DataSink& sink);

  z_stream_s* inflater_ = nullptr;
  libdeflate_decompressor* wholeInflater_ = nullptr;
  std::string in_;
  std::string out_;
};

// The same for a single entry.
DataResult ReadEntryData(RandomAccess& file, const Entry& entry, DataSink& sink);

}  // namespace vk::zip
