#include "core/comma_list.h"

#include <cstddef>

namespace vk {
namespace {

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// Code page 1252 has no lead bytes, so every character is one byte wide.
bool NeedsQuotes(const std::string& s) {
  for (char c : s) {
    if (Byte(c) <= 32 || c == '"' || c == ',') return true;
  }
  return false;
}

bool IsBlank(char c) { return Byte(c) >= 1 && Byte(c) <= 32; }

}  // namespace

std::string WriteCommaList(const StringList& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& s = items[i];
    // An empty last entry is quoted: after a final comma the reader sees no entry.
    if (!NeedsQuotes(s) && !(s.empty() && i + 1 == items.size())) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

StringList ReadCommaList(const std::string& text) {
  // Everything after a NUL byte is ignored: a NUL is neither blank nor an entry
  // character, so scanning on past it would never advance.
  const std::string line = text.substr(0, text.find('\0'));
  const size_t n = line.size();
  StringList items;
  size_t p = 0;
  auto skipBlanks = [&] {
    while (p < n && IsBlank(line[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string entry;
    if (line[p] == '"') {
      ++p;
      while (p < n) {
        if (line[p] == '"') {
          if (p + 1 < n && line[p + 1] == '"') {
            entry += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        entry += line[p++];
      }
    } else {
      while (p < n && Byte(line[p]) > 32 && line[p] != ',') entry += line[p++];
    }
    items.push_back(std::move(entry));
    skipBlanks();
    if (p < n && line[p] == ',') {
      ++p;
      skipBlanks();
    }
  }
  return items;
}

char LowerAnsi(char c) {
  const unsigned char b = Byte(c);
  if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
  if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return static_cast<char>(b + 32);  // À..Þ, not ×
  switch (b) {
    case 0x8A: return static_cast<char>(0x9A);  // Š
    case 0x8C: return static_cast<char>(0x9C);  // Œ
    case 0x8E: return static_cast<char>(0x9E);  // Ž
    case 0x9F: return static_cast<char>(0xFF);  // Ÿ
    default: return c;
  }
}

bool SameTextAnsi(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAnsi(a[i]) != LowerAnsi(b[i])) return false;
  }
  return true;
}

std::string ValueOfKey(const StringList& items, const std::string& key) {
  for (const std::string& item : items) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    if (SameTextAnsi(item.substr(0, eq), key)) return item.substr(eq + 1);
  }
  return std::string();
}

std::string Unquote(const std::string& text) {
  if (text.size() <= 1 || text.front() != '"' || text.back() != '"') return text;
  const std::string inner = text.substr(1, text.size() - 2);
  std::string out;
  for (size_t i = 0; i < inner.size(); ++i) {
    out += inner[i];
    if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
  }
  return out;
}

}  // namespace vk
