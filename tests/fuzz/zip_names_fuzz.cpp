// Entry-name decoding and the safe-name check, against an oracle of its own: a
// name the check accepts stays inside the target folder once Windows has trimmed
// it, names no device and no stream.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/zip_format.h"
#include "core/zip_names.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using vk::zip::NameProblem;

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - 0x20 : c; }

bool NamesDevice(std::u16string_view step) {
  std::u16string base(step.substr(0, step.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& c : base) c = AsciiUpper(c);
  for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (base == device) return true;
  if (base.size() != 4) return false;
  const std::u16string head = base.substr(0, 3);
  const char16_t n = base[3];
  return (head == u"COM" || head == u"LPT") &&
         ((n >= u'1' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3');
}

// The oracle: every step of an accepted name, as Windows trims it, is a plain name.
void CheckAccepted(std::u16string_view name) {
  FUZZ_CHECK(!name.empty() && name[0] != u'/');
  FUZZ_CHECK(name.find(u':') == std::u16string_view::npos);
  FUZZ_CHECK(name.find(u'\\') == std::u16string_view::npos);
  if (name.back() == u'/') name.remove_suffix(1);
  size_t start = 0;
  while (true) {
    const size_t slash = name.find(u'/', start);
    const std::u16string_view step =
        name.substr(start, slash == std::u16string_view::npos ? slash : slash - start);
    std::u16string trimmed(step);
    while (!trimmed.empty() && (trimmed.back() == u'.' || trimmed.back() == u' ')) trimmed.pop_back();
    FUZZ_CHECK(!trimmed.empty() && trimmed == step);
    for (char16_t c : step) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    FUZZ_CHECK(!NamesDevice(step));
    if (slash == std::u16string_view::npos) break;
    start = slash + 1;
  }
}

}  // namespace

// Input: one byte of choices (UTF-8 flag, Unix host, code page 850, Unicode path
// record), then the stored name, then after a NUL byte the record's UTF-8 name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vk::zip;
  if (size == 0) return 0;
  const uint8_t choices = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t nul = rest.find('\0');
  Entry entry;
  entry.name = std::string(rest.substr(0, nul));
  entry.flags = (choices & 1) ? kFlagUtf8 : 0;
  entry.versionMadeBy = static_cast<uint16_t>(((choices & 2) ? 3 << 8 : 0) | 20);
  if ((choices & 8) && nul != std::string_view::npos) {
    std::string record;
    record.push_back(1);
    PutU32(&record, Crc32(0, entry.name.data(), entry.name.size()));
    record += rest.substr(nul + 1);
    PutU16(&entry.extra, kExtraUnicodePath);
    PutU16(&entry.extra, static_cast<uint16_t>(record.size()));
    entry.extra += record;
  }
  const OemTable& oem = (choices & 4) ? kCp850 : kCp437;
  const auto decoded = DecodeEntryName(entry, oem);
  if (!decoded) return 0;
  const std::u16string name = SlashesToForward(*decoded);
  const NameProblem problem = CheckExtractName(name);
  FUZZ_CHECK(*NameProblemText(problem) != '\0' || problem == NameProblem::kOk);
  if (problem == NameProblem::kOk) CheckAccepted(name);

  // Folding keeps the length and is idempotent; UTF-8 round-trips.
  const std::u16string folded = FoldCase(name);
  FUZZ_CHECK(folded.size() == name.size() && FoldCase(folded) == folded);
  FUZZ_CHECK(DecodeUtf8(EncodeUtf8(name)).has_value());
  return 0;
}
