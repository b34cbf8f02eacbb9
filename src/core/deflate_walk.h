#pragma once
// Proving that raw deflate data stand for given bytes, without inflating them into a
// buffer: every block is decoded, and each literal and match is compared with the
// bytes it must reproduce. It also tells where the last block begins and ends, which
// is what joining independently compressed pieces into one stream needs.
#include <cstdint>
#include <memory>
#include <string_view>

namespace vk::zip {

struct DeflateWalk {
  uint64_t lastHeader = 0;  // bit offset of the last block's header
  uint64_t end = 0;         // bit offset just past the last block's end code
  bool final = false;       // the last block is marked as the stream's last
};

// Walks `data` from its first bit, block by block, until a block marked last, or
// until a block ends exactly at the end of `data`. True when the blocks are valid as
// zlib reads them, reproduce `expected` in full and nothing beyond it, and refer to
// no byte before the start of `expected`.
bool WalkDeflate(std::string_view data, std::string_view expected, DeflateWalk* walk);

// The same, keeping its tables from one walk to the next: one per thread.
class DeflateWalker {
 public:
  DeflateWalker();
  ~DeflateWalker();
  DeflateWalker(const DeflateWalker&) = delete;
  DeflateWalker& operator=(const DeflateWalker&) = delete;
  bool Walk(std::string_view data, std::string_view expected, DeflateWalk* walk);

 private:
  struct Tables;
  std::unique_ptr<Tables> tables_;
};

}  // namespace vk::zip
