#include "core/zip_names.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace vk::zip {

const OemTable kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Western Europe's DOS code page: the box-drawing and Greek characters of 437 partly
// give way to accented capitals, "ø", "Ø", "×" and the like.
const OemTable kCp850 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

const OemTable& OemTableFor(unsigned codePage) { return codePage == 850 ? kCp850 : kCp437; }

namespace {

#include "core/case_fold_table.inc"

// 0x80..0x9F of CP1252; the five unassigned bytes map to the C1 controls, as
// Windows maps them.
constexpr std::array<char16_t, 32> kCp1252Low = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::optional<std::u16string> DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<uint8_t>(bytes[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int length;
    char32_t c;
    char32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
      length = 2, c = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      length = 3, c = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      length = 4, c = b0 & 0x07, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > bytes.size()) return std::nullopt;
    for (int k = 1; k < length; ++k) {
      const auto b = static_cast<uint8_t>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) return std::nullopt;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += length;
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string DecodeOem(std::string_view bytes, const OemTable& table) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    out.push_back(b < 0x80 ? char16_t(b) : table[b - 0x80]);
  }
  return out;
}

std::u16string DecodeCp437(std::string_view bytes) { return DecodeOem(bytes, kCp437); }

std::u16string DecodeCp1252(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252Low[b - 0x80] : char16_t(b));
  }
  return out;
}

std::optional<std::string> EncodeCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const auto* hit = std::find(kCp1252Low.begin(), kCp1252Low.end(), c);
    if (hit == kCp1252Low.end()) return std::nullopt;
    out.push_back(static_cast<char>(0x80 + (hit - kCp1252Low.begin())));
  }
  return out;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}

std::u16string EntryPathName(const Entry& entry, const OemTable& oem) {
  return SlashesToForward(DecodeEntryName(entry, oem).value_or(DecodeOem(entry.name, oem)));
}

std::u16string SlashesToForward(std::u16string_view text) {
  std::u16string out(text);
  std::replace(out.begin(), out.end(), u'\\', u'/');
  return out;
}

StoredName StoreName(std::u16string_view name) {
  StoredName stored;
  stored.bytes = EncodeUtf8(SlashesToForward(name));
  stored.utf8 = !IsAscii(stored.bytes);
  return stored;
}

void SetNameAndAttributes(Entry* entry, std::u16string_view name, uint32_t dosAttributes) {
  constexpr uint32_t kReadOnly = 0x01, kDirectory = 0x10;
  const StoredName stored = StoreName(name);
  entry->name = stored.bytes;
  entry->flags = static_cast<uint16_t>((entry->flags & ~kFlagUtf8) | (stored.utf8 ? kFlagUtf8 : 0));
  entry->externalAttributes = dosAttributes & 0xFF;
  if (stored.utf8) {
    const uint32_t mode = (dosAttributes & kDirectory) ? 040755u : (dosAttributes & kReadOnly) ? 0100444u : 0100644u;
    entry->versionMadeBy = static_cast<uint16_t>((3 << 8) | (entry->versionMadeBy & 0xFF));
    entry->externalAttributes |= mode << 16;
  } else {
    entry->versionMadeBy &= 0xFF;
  }
}

std::optional<std::u16string> DecodeEntryName(const Entry& entry, const OemTable& oem) {
  if (entry.flags & kFlagUtf8) return DecodeUtf8(entry.name);
  if (const auto record = FindExtraRecord(entry.extra, kExtraUnicodePath)) {
    constexpr size_t kHead = 5;  // version, CRC-32 of the stored name
    const auto* p = reinterpret_cast<const uint8_t*>(record->data());
    if (record->size() > kHead && p[0] == 1 &&
        GetU32(p + 1) == Crc32(0, entry.name.data(), entry.name.size())) {
      if (auto decoded = DecodeUtf8(record->substr(kHead))) return decoded;
    }
  }
  // Unix archivers (Info-ZIP's zip among them) store the file system's bytes, which
  // are UTF-8 there, without saying so; valid UTF-8 from such a host is taken as it
  // is meant. Names made on DOS and Windows are OEM text.
  constexpr int kHostUnix = 3, kHostMacOsX = 19;
  const int host = entry.versionMadeBy >> 8;
  if ((host == kHostUnix || host == kHostMacOsX) && !IsAscii(entry.name)) {
    if (auto decoded = DecodeUtf8(entry.name)) return decoded;
  }
  return DecodeOem(entry.name, oem);
}

namespace {

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool IsReservedDevice(std::u16string_view step) {
  // The device is the part before the first dot, trailing blanks ignored.
  std::u16string base(step.substr(0, step.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  base = FoldCase(base);
  static const char16_t* const kPlain[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
  for (const char16_t* device : kPlain)
    if (base == device) return true;
  if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0)) {
    const char16_t digit = base[3];
    return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
           digit == u'\u00B3';
  }
  return false;
}

NameProblem CheckStep(std::u16string_view step) {
  if (step.empty()) return NameProblem::kEmptyStep;
  if (step == u"." || step == u"..") return NameProblem::kDotStep;
  for (char16_t c : step) {
    if (IsControl(c)) return NameProblem::kControl;
    if (c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
      return NameProblem::kInvalidChar;
  }
  if (step.back() == u'.' || step.back() == u' ') return NameProblem::kTrailingDotOrBlank;
  if (IsReservedDevice(step)) return NameProblem::kReservedDevice;
  return NameProblem::kOk;
}

}  // namespace

NameProblem CheckExtractName(std::u16string_view name) {
  if (name.empty()) return NameProblem::kEmpty;
  if (name[0] == u'/') return NameProblem::kAbsolute;
  if (name.size() >= 2 && name[1] == u':') return NameProblem::kDrive;
  if (name.find(u':') != std::u16string_view::npos) return NameProblem::kColon;
  std::u16string_view rest = name;
  if (rest.back() == u'/') rest.remove_suffix(1);  // a directory entry
  if (rest.empty()) return NameProblem::kEmpty;
  size_t start = 0;
  while (true) {
    const size_t slash = rest.find(u'/', start);
    const auto step = rest.substr(start, slash == std::u16string_view::npos ? slash : slash - start);
    const NameProblem problem = CheckStep(step);
    if (problem != NameProblem::kOk) return problem;
    if (slash == std::u16string_view::npos) return NameProblem::kOk;
    start = slash + 1;
  }
}

const char* NameProblemText(NameProblem problem) {
  switch (problem) {
    case NameProblem::kOk: return "";
    case NameProblem::kEmpty: return "der Name ist leer";
    case NameProblem::kAbsolute: return "der Name ist ein absoluter Pfad";
    case NameProblem::kDrive: return "der Name enthält eine Laufwerksangabe";
    case NameProblem::kColon: return "der Name enthält einen Doppelpunkt";
    case NameProblem::kDotStep: return "der Name enthält \".\" oder \"..\" als Verzeichnis";
    case NameProblem::kEmptyStep: return "der Name enthält einen leeren Pfadteil";
    case NameProblem::kControl: return "der Name enthält ein Steuerzeichen";
    case NameProblem::kInvalidChar: return "der Name enthält ein unzulässiges Zeichen";
    case NameProblem::kTrailingDotOrBlank:
      return "ein Teil des Namens endet mit einem Punkt oder Leerzeichen";
    case NameProblem::kReservedDevice: return "der Name ist ein reservierter Gerätename";
  }
  return "";
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
      continue;
    }
    const auto* run = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                                       [](char16_t v, const FoldRun& r) { return v < r.first; });
    if (run == std::begin(kFoldRuns)) continue;
    --run;
    if (c <= run->last && (c - run->first) % run->step == 0)
      c = static_cast<char16_t>(c + run->delta);
  }
  return out;
}

namespace {

bool MatchFolded(std::u16string_view p, std::u16string_view n) {
  // Iterative glob with one back-tracking point per star.
  size_t pi = 0, ni = 0, starP = std::u16string_view::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
      ++pi, ++ni;
    } else if (pi < p.size() && p[pi] == u'*') {
      starP = pi++;
      starN = ni;
    } else if (starP != std::u16string_view::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

}  // namespace

bool MatchWildcard(std::u16string_view pattern, std::u16string_view name) {
  const std::u16string p = FoldCase(pattern);
  const std::u16string n = FoldCase(name);
  if (MatchFolded(p, n)) return true;
  // DOS: a trailing ".*" also matches a name without extension ("*.*", "a.*").
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, u".*") == 0 && n.find(u'.') == std::u16string::npos)
    return MatchFolded(std::u16string_view(p).substr(0, p.size() - 2), n);
  return false;
}

bool HasWildcard(std::u16string_view text) {
  return text.find_first_of(u"*?") != std::u16string_view::npos;
}

}  // namespace vk::zip
