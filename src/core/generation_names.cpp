#include "core/generation_names.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>

#include "core/comma_list.h"

namespace vk {
namespace {

// " (YYYY-MM-DD HH-MM-SS)": where each character must be a digit.
constexpr char kStampShape[] = " (0000-00-00 00-00-00)";
constexpr size_t kStampLength = sizeof kStampShape - 1;

// Where the name's extension begins: its last dot after the last separator, or its end.
size_t ExtensionStart(const std::string& name) {
  const size_t slash = name.find_last_of("\\/:");
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? name.size() : dot;
}

}  // namespace

std::string GenerationName(const std::string& archive, const LocalTime& t) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " (%04d-%02d-%02d %02d-%02d-%02d)", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  const size_t cut = ExtensionStart(archive);
  return archive.substr(0, cut) + stamp + archive.substr(cut);
}

bool IsGenerationOf(const std::string& archiveName, const std::string& candidate) {
  const size_t cut = ExtensionStart(archiveName);
  if (candidate.size() != archiveName.size() + kStampLength) return false;
  if (!SameTextAnsi(candidate.substr(0, cut), archiveName.substr(0, cut)) ||
      !SameTextAnsi(candidate.substr(cut + kStampLength), archiveName.substr(cut)))
    return false;
  for (size_t i = 0; i < kStampLength; ++i) {
    const char c = candidate[cut + i], shape = kStampShape[i];
    if (shape == '0' ? !(c >= '0' && c <= '9') : c != shape) return false;
  }
  return true;
}

std::vector<std::string> GenerationsBeyond(std::vector<std::string> names, int keep) {
  // The stamps sit at the same place in every name, so name order, letter case
  // aside, is age order.
  const auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return upper(a) > upper(b); });
  const size_t kept = static_cast<size_t>(std::max(keep, 0));
  if (names.size() <= kept) return {};
  return std::vector<std::string>(names.begin() + static_cast<std::ptrdiff_t>(kept), names.end());
}

}  // namespace vk
