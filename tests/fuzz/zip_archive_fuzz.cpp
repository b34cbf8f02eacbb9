// The ZIP directory reader and the extraction of every entry it accepts: damaged
// archives are refused with EZipDirError or a DataResult, never read out of bounds,
// and no accepted entry yields more bytes than it declares.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/errors.h"
#include "core/zip_deflate.h"
#include "core/zip_directory.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

class CountingSink : public vk::zip::DataSink {
 public:
  bool Write(const void*, size_t length) override {
    written += length;
    return true;
  }
  uint64_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vk::zip;
  MemoryAccess file(std::string_view(reinterpret_cast<const char*>(data), size));
  Directory dir;
  try {
    dir = ReadDirectory(file);
  } catch (const vk::EZipDirError&) {
    return 0;
  }
  const ExtractionPlan plan = PlanExtraction(file, dir, /*keepDirs=*/true, {});
  EntryReader reader;
  for (const PlannedEntry& p : plan.entries) {
    if (p.refusal != Refusal::kNone || p.directory) continue;
    const Entry& entry = dir.entries[p.index];
    CountingSink sink;
    const DataResult result = reader.Read(file, entry, sink);
    FUZZ_CHECK(sink.written <= entry.uncompressedSize);
    if (result == DataResult::kOk) FUZZ_CHECK(sink.written == entry.uncompressedSize);
  }
  return 0;
}
