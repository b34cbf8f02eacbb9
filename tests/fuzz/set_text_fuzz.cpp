// The ".set" loader with its numbers and dates: a text either loads or raises
// EConvertError, and what loads is written back as a text that loads to the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/datetime.h"
#include "core/errors.h"
#include "core/set_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string DefaultName() { return vk::DefaultZipName("C:\\Kestrone"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char separator = (data[0] & 1) ? ',' : '.';
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  vk::SetFields fields;
  try {
    fields = vk::LoadSetText(text, separator, DefaultName);
  } catch (const vk::EConvertError&) {
    return 0;
  }
  vk::DecodeDateTime(fields.LastBackup);
  vk::IsDue(fields.AutoMode, fields.AutoDays, fields.LastBackup, 45000.5);

  const std::string once = vk::SaveSetText(fields, separator);
  const char other = separator == ',' ? '.' : ',';
  vk::SetFields again = vk::LoadSetText(once, other, DefaultName);  // must not throw
  FUZZ_CHECK(vk::SaveSetText(again, separator) == once);
  return 0;
}
