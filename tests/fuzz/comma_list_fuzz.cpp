// The comma-list reader: any text reads, and a list written back reads as itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/comma_list.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const vk::StringList list = vk::ReadCommaList(text);
  FUZZ_CHECK(vk::ReadCommaList(vk::WriteCommaList(list)) == list);
  for (const auto& item : list) {
    vk::Unquote(item);
    const size_t eq = item.find('=');
    if (eq != std::string::npos) vk::ValueOfKey(list, item.substr(0, eq));
    FUZZ_CHECK(vk::SameTextAnsi(item, item));
  }
  return 0;
}
