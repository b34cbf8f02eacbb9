#include "core/regfile.h"

namespace vk {
namespace {

std::optional<std::u16string> Decode(const std::string& bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                    (static_cast<unsigned char>(bytes[i + 1]) << 8));
  } else {
    // Code page 1252 or any other ANSI page: only the ASCII part matters below.
    text.reserve(bytes.size());
    for (char c : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(c));
  }
  return text;
}

// Lines end at CR, LF or NUL (an importer reading C strings stops at NUL and may
// take what follows as a new line).
std::vector<std::u16string> SplitLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::u16string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n' || c == 0) {
      lines.push_back(line);
      line.clear();
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      line += c;
    }
  }
  lines.push_back(line);
  return lines;
}

bool IsBlank(char16_t c) { return c <= 0x20; }

std::u16string Trim(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool EqualsAscii(const std::u16string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t bc = static_cast<unsigned char>(b[i]);
    if (a[i] > 0x7F || Upper(a[i]) != Upper(bc)) return false;
  }
  return true;
}

std::vector<std::u16string> Components(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

std::string ToAnsi(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x100 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

std::optional<std::vector<RegFileKey>> ReadRegFileKeys(const std::string& bytes) {
  std::optional<std::u16string> text = Decode(bytes);
  if (!text) return std::nullopt;
  std::vector<std::u16string> lines = SplitLines(*text);
  if (lines.empty()) return std::nullopt;
  std::u16string header = Trim(lines[0]);
  if (!EqualsAscii(header, "REGEDIT4") && !EqualsAscii(header, "Windows Registry Editor Version 5.00"))
    return std::nullopt;

  std::vector<RegFileKey> keys;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::u16string line = Trim(lines[n]);
    if (line.empty() || line[0] != u'[') continue;
    RegFileKey key;
    key.line = static_cast<int>(n + 1);
    // The key runs to the last "]"; a line without one is taken whole.
    size_t close = line.rfind(u']');
    std::u16string path = close == std::u16string::npos || close == 0
                              ? line.substr(1)
                              : line.substr(1, close - 1);
    if (!path.empty() && path[0] == u'-') {
      key.deletion = true;
      path.erase(0, 1);
    }
    key.path = path;
    keys.push_back(key);
  }
  return keys;
}

bool KeyLiesUnder(const std::u16string& key, const std::string& branch) {
  std::vector<std::u16string> parts = Components(key);
  std::vector<std::u16string> wanted;
  {
    std::u16string wide;
    for (char c : branch) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    wanted = Components(wide);
  }
  if (parts.size() < wanted.size()) return false;
  for (const std::u16string& p : parts) {
    if (p.empty() || p == u"." || p == u"..") return false;
    for (char16_t c : p)
      if (c < 0x20 || c == 0x7F) return false;
  }
  for (size_t i = 0; i < wanted.size(); ++i)
    if (!EqualsAscii(parts[i], ToAnsi(wanted[i]))) return false;
  return true;
}

bool RegFileStaysUnder(const std::string& bytes, const std::string& branch, std::string* outside) {
  if (outside) outside->clear();
  std::optional<std::vector<RegFileKey>> keys = ReadRegFileKeys(bytes);
  if (!keys) return false;
  for (const RegFileKey& k : *keys) {
    if (!KeyLiesUnder(k.path, branch)) {
      if (outside) *outside = ToAnsi(k.path);
      return false;
    }
  }
  return true;
}

}  // namespace vk
