// The ".reg" checker: any bytes read, and a file it lets through names no key
// outside the branch.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/regfile.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string branch = "HKEY_CURRENT_USER\\Software\\Kestrone";
  const auto keys = vk::ReadRegFileKeys(bytes);
  std::string outside;
  const bool stays = vk::RegFileStaysUnder(bytes, branch, &outside);
  FUZZ_CHECK(!stays || keys.has_value());
  if (!keys) return 0;
  bool allUnder = true;
  for (const auto& key : *keys) {
    const bool under = vk::KeyLiesUnder(key.path, branch);
    allUnder = allUnder && under;
    // A key under the branch starts with it, whatever the case.
    if (under) FUZZ_CHECK(key.path.size() >= branch.size());
  }
  FUZZ_CHECK(stays == allUnder);
  return 0;
}
