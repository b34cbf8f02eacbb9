#include "core/placement_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vk {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == ',') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

std::optional<int32_t> ParsePlacementInt(const std::string& text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 10) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      int d = HexDigit(text[i]);
      if (d < 0) return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(value);
  }
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t PlacementIntOr(const std::string& text, int32_t fallback) {
  return ParsePlacementInt(text).value_or(fallback);
}

FourInts ParseFourInts(const std::string& text, const FourInts& fallback) {
  std::vector<std::string> words = Words(text);
  FourInts result = fallback;
  for (size_t i = 0; i < result.size() && i < words.size(); ++i)
    result[i] = PlacementIntOr(words[i], fallback[i]);
  return result;
}

std::string FormatFourInts(const FourInts& v) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%d,%d,%d,%d", static_cast<int>(v[0]), static_cast<int>(v[1]),
           static_cast<int>(v[2]), static_cast<int>(v[3]));
  return buffer;
}

PlacementRect MoveInto(const PlacementRect& r, const PlacementRect& area) {
  int64_t width = int64_t{r.right} - r.left, height = int64_t{r.bottom} - r.top;
  int64_t left = std::max<int64_t>(area.left, std::min<int64_t>(r.left, area.right - width));
  int64_t top = std::max<int64_t>(area.top, std::min<int64_t>(r.top, area.bottom - height));
  return {static_cast<int32_t>(left), static_cast<int32_t>(top),
          static_cast<int32_t>(left + width), static_cast<int32_t>(top + height)};
}

}  // namespace vk
