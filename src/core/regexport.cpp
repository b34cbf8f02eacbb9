#include "core/regexport.h"

#include <cstdio>

namespace vk {
namespace {

constexpr uint32_t kRegSz = 1, kRegBinary = 3, kRegDword = 4;
constexpr size_t kLineWidth = 76;  // where REGEDIT breaks a long hex line

std::u16string Quoted(const std::u16string& text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  return out + u"\"";
}

std::u16string Ascii(const std::string& s) { return {s.begin(), s.end()}; }

std::u16string Hex(uint32_t type, const std::string& data, size_t column) {
  static const char kDigits[] = "0123456789abcdef";
  char prefix[16] = "hex:";
  if (type != kRegBinary) snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
  std::string out = prefix;
  column += out.size();
  for (size_t i = 0; i < data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
    column += 2;
    if (i + 1 == data.size()) break;
    out += ',';
    ++column;
    if (column > kLineWidth) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
  return Ascii(out);
}

// A string value as text when it is one: a whole number of UTF-16 units, one closing
// zero at most and no other control characters; everything else keeps its bytes.
bool AsText(const std::string& data, std::u16string* text) {
  if (data.size() % 2) return false;
  text->clear();
  for (size_t i = 0; i < data.size(); i += 2)
    *text += static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                   static_cast<unsigned char>(data[i + 1]) << 8);
  if (!text->empty() && text->back() == 0) text->pop_back();
  for (char16_t c : *text)
    if (c < 0x20) return false;
  return true;
}

std::u16string ValueLine(const RegExportValue& v) {
  std::u16string line = v.name.empty() ? u"@=" : Quoted(v.name) + u"=";
  std::u16string text;
  if (v.type == kRegSz && AsText(v.data, &text)) return line + Quoted(text);
  if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(v.data[i]);
    char buffer[16];
    snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(n));
    return line + Ascii(buffer);
  }
  return line + Hex(v.type, v.data, line.size());
}

}  // namespace

std::string RegExportFile(const std::u16string& branch, const std::vector<RegExportKey>& keys) {
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n";
  if (keys.empty()) text += u"[-" + branch + u"]\r\n\r\n";
  for (const RegExportKey& key : keys) {
    text += u"[" + key.path + u"]\r\n";
    for (const RegExportValue& v : key.values) text += ValueLine(v) + u"\r\n";
    text += u"\r\n";
  }
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + 2 * text.size());
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace vk
