#include "core/regexport.h"

#include <gtest/gtest.h>

#include <string>

#include "core/regfile.h"

namespace {

const std::u16string kBranch = u"HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone";

std::u16string Text(const std::string& bytes) {
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  return text;
}

std::string Utf16(const std::u16string& s) {
  std::string bytes;
  for (char16_t c : s) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

// One value's line as it stands in the file.
std::u16string Line(const vk::RegExportValue& v) {
  const std::u16string text = Text(vk::RegExportFile(kBranch, {{kBranch, {v}}}));
  const size_t start = text.find(u"]\r\n") + 3;
  return text.substr(start, text.find(u"\r\n\r\n", start) - start);
}

TEST(RegExportTest, EachKindOfValueInRegeditsForm) {
  const struct {
    vk::RegExportValue value;
    std::u16string line;
  } cases[] = {
      {{u"", 1, Utf16(u"Standard") + std::string(2, '\0')}, u"@=\"Standard\""},
      {{u"Pfad \"x\"", 1, Utf16(u"C:\\K \"95\"") + std::string(2, '\0')}, u"\"Pfad \\\"x\\\"\"=\"C:\\\\K \\\"95\\\"\""},
      {{u"Ohne Null", 1, Utf16(u"ab")}, u"\"Ohne Null\"=\"ab\""},
      // Line breaks cannot stand between quotes, an odd length cannot be text.
      {{u"Zeilen", 1, Utf16(u"a\r\n") + std::string(2, '\0')}, u"\"Zeilen\"=hex(1):61,00,0d,00,0a,00,00,00"},
      {{u"Ungerade", 1, "abc"}, u"\"Ungerade\"=hex(1):61,62,63"},
      {{u"Zahl", 4, std::string("\x98\xBA\xDC\xFE", 4)}, u"\"Zahl\"=dword:fedcba98"},
      {{u"Kurz", 4, "\x01"}, u"\"Kurz\"=hex(4):01"},
      {{u"Bytes", 3, "\x01\xAB"}, u"\"Bytes\"=hex:01,ab"},
      {{u"Leer", 3, ""}, u"\"Leer\"=hex:"},
      {{u"Groß", 11, std::string(8, '\x07')}, u"\"Groß\"=hex(b):07,07,07,07,07,07,07,07"},
  };
  for (const auto& c : cases) EXPECT_EQ(Line(c.value), c.line);
}

TEST(RegExportTest, LongHexBreaksLikeRegedit) {
  const std::u16string line = Line({u"Bytes", 3, std::string(40, '\x5A')});
  size_t at = 0, lines = 0;
  for (size_t end; (end = line.find(u"\r\n", at)) != std::u16string::npos; at = end + 2, ++lines) {
    EXPECT_LE(end - at, 80u);
    EXPECT_EQ(line[end - 1], u'\\');
    EXPECT_EQ(line.substr(end + 2, 2), u"  ");
  }
  EXPECT_EQ(lines, 1u);
  std::u16string joined;
  for (char16_t c : line)
    if (c != u'\\' && c != u'\r' && c != u'\n' && c != u' ') joined += c;
  std::u16string expected = u"\"Bytes\"=hex:";
  for (int i = 0; i < 40; ++i) expected += i ? u",5a" : u"5a";
  EXPECT_EQ(joined, expected);
}

TEST(RegExportTest, KeysInOrderAndAMissingBranchDeletedOnImport) {
  const std::string branch = "HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone";
  const std::string file = vk::RegExportFile(kBranch, {{kBranch, {}}, {kBranch + u"\\Fenster", {}}});
  auto keys = vk::ReadRegFileKeys(file);
  ASSERT_TRUE(keys);
  ASSERT_EQ(keys->size(), 2u);
  EXPECT_EQ((*keys)[1].path, kBranch + u"\\Fenster");
  EXPECT_TRUE(vk::RegFileStaysUnder(file, branch));

  const std::string none = vk::RegExportFile(kBranch, {});
  EXPECT_EQ(Text(none), u"Windows Registry Editor Version 5.00\r\n\r\n[-" + kBranch + u"]\r\n\r\n");
  keys = vk::ReadRegFileKeys(none);
  ASSERT_TRUE(keys && keys->size() == 1u);
  EXPECT_TRUE((*keys)[0].deletion);
  EXPECT_TRUE(vk::RegFileStaysUnder(none, branch));
}

}  // namespace
