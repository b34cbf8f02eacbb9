#pragma once
// The text forms in which a window's placement is kept: integers as decimal (or
// "0x" hexadecimal) text, and the four-number lists "%d,%d,%d,%d" of the minimized
// and maximized positions and of the normal rectangle.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vk {

// Text longer than two characters that starts with "0x" or "0X" is hexadecimal (at
// most eight digits, taken as a 32-bit pattern); anything else is an optional sign
// and decimal digits within 32 bits. Nothing else parses.
std::optional<int32_t> ParsePlacementInt(const std::string& text);

// The integer, or `fallback` when the text does not parse (an empty text included).
int32_t PlacementIntOr(const std::string& text, int32_t fallback);

using FourInts = std::array<int32_t, 4>;

// Words separated by blanks and commas (runs of them count as one separator); word
// i that is missing or does not parse gives fallback[i].
FourInts ParseFourInts(const std::string& text, const FourInts& fallback);

// "%d,%d,%d,%d".
std::string FormatFourInts(const FourInts& values);

struct PlacementRect {
  int32_t left, top, right, bottom;
};

// Moves `r` (keeping its size) so that it lies inside `area` as far as it can: a
// rectangle larger than the area keeps its top-left corner at the area's.
PlacementRect MoveInto(const PlacementRect& r, const PlacementRect& area);

}  // namespace vk
