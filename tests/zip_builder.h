#pragma once
// Hand-made ZIP archives for the unit and the Windows tests: entries exactly as a test
// needs them (any method, flags and attributes, sizes in a ZIP64 local header, an
// extra field of its own, bytes between the entries), written with the core's
// headers. Portable: no system headers beyond the standard library.
#include <cstdint>
#include <string>
#include <vector>

#include "core/zip_deflate.h"
#include "core/zip_format.h"

namespace vk::testzip {

struct Item {
  std::string name;
  std::string data;
  uint16_t method = zip::kMethodDeflated;
  uint16_t flags = 0;
  uint16_t versionMadeBy = 20;
  uint32_t externalAttributes = 0;
  bool zip64Local = false;  // sizes 0xFFFFFFFF in the local header, real ones in its extra field
  std::string localExtra = {};  // an extra field of the test's own (not with zip64Local)
};

// Local headers and data are written as entries are added; changes to an entry
// returned by Add reach only its central header, so a test can make the two disagree.
struct ZipBuilder {
  std::string bytes;                // local headers and data so far
  std::vector<zip::Entry> entries;  // what the central directory will say
  bool forceZip64 = false;          // ZIP64 end records even when nothing needs them

  zip::Entry& Add(const Item& item) {
    zip::Entry e;
    e.name = item.name;
    e.method = item.method;
    e.flags = item.flags;
    e.versionMadeBy = item.versionMadeBy;
    e.externalAttributes = item.externalAttributes;
    e.modified = {0x6000, 0x5421};  // 2022-01-01 12:00:00
    e.crc = zip::Crc32(0, item.data.data(), item.data.size());
    e.uncompressedSize = item.data.size();
    std::string data = item.data;
    if (item.method == zip::kMethodDeflated) {
      data.clear();
      zip::PieceCompressor(9).Compress(item.data, true, &data);
    }
    e.compressedSize = data.size();
    e.localOffset = bytes.size();
    std::string local = zip::LocalHeader(e, item.zip64Local);
    if (item.method == zip::kMethodStored && !item.zip64Local) local[4] = 10;  // version 1.0 suffices
    if (!item.localExtra.empty()) {
      local[28] = static_cast<char>(item.localExtra.size() & 0xFF);
      local[29] = static_cast<char>(item.localExtra.size() >> 8);
      local += item.localExtra;
    }
    bytes += local + data;
    entries.push_back(e);
    return entries.back();
  }
  zip::Entry& AddStored(const std::string& name, const std::string& data) {
    return Add({name, data, zip::kMethodStored});
  }

  std::string Finish() const {
    std::string out = bytes;
    const uint64_t cdOffset = out.size();
    for (const auto& e : entries) out += zip::CentralHeader(e);
    return out + zip::EndRecords(entries.size(), cdOffset, out.size() - cdOffset, forceZip64);
  }
};

}  // namespace vk::testzip
