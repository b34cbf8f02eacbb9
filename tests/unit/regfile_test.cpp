#include "core/regfile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kBranch = "HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone";

std::string Utf16(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::u16string Widen(const std::string& s) {
  std::u16string w;
  for (char c : s) w += static_cast<char16_t>(static_cast<unsigned char>(c));
  return w;
}

bool Under(const std::string& key) { return vk::KeyLiesUnder(Widen(key), kBranch); }

TEST(RegFileKeyTest, TheBranchItselfAndBelowOnly) {
  EXPECT_TRUE(Under(kBranch));
  EXPECT_TRUE(Under(kBranch + "\\Filebase\\Areas"));
  EXPECT_TRUE(Under("hkey_current_user\\SOFTWARE\\gray.fern.labs\\KESTRONE\\x"));
  EXPECT_FALSE(Under("HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs"));
  EXPECT_FALSE(Under("HKEY_CURRENT_USER\\Software\\Gray.Fern.LabsX\\Kestrone"));
  EXPECT_FALSE(Under("HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\KestroneX"));
  EXPECT_FALSE(Under("HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestron"));
  EXPECT_FALSE(Under("HKEY_LOCAL_MACHINE\\Software\\Gray.Fern.Labs\\Kestrone"));
  EXPECT_FALSE(Under("HKCU\\Software\\Gray.Fern.Labs\\Kestrone"));
  EXPECT_FALSE(Under(""));
}

TEST(RegFileKeyTest, TricksThatCouldReachElsewhereAreRefused) {
  EXPECT_FALSE(Under(" " + kBranch));
  EXPECT_FALSE(Under(kBranch + "\\..\\..\\Microsoft"));
  EXPECT_FALSE(Under(kBranch + "\\.\\x"));
  EXPECT_FALSE(Under(kBranch + "\\\\x"));
  EXPECT_FALSE(Under(kBranch + "\\"));
  EXPECT_FALSE(Under(kBranch + "\\a\tb"));
  EXPECT_FALSE(Under("HKEY_CURRENT_USER\\\\Software\\Gray.Fern.Labs\\Kestrone"));
  // Letters outside ASCII never stand in for ASCII ones.
  std::u16string kelvin = Widen(kBranch);
  kelvin[kelvin.find(u"Kestrone")] = 0x212A;  // KELVIN SIGN, folds to "k" elsewhere
  EXPECT_FALSE(vk::KeyLiesUnder(kelvin, kBranch));
  std::u16string fullwidth = Widen(kBranch);
  fullwidth[0] = 0xFF28;
  EXPECT_FALSE(vk::KeyLiesUnder(fullwidth, kBranch));
  // A name merely starting with the branch's text.
  EXPECT_FALSE(Under(kBranch + "]\n[HKEY_LOCAL_MACHINE"));
}

TEST(RegFileTest, HeadersAndEncodings) {
  const std::string body = "\r\n[" + kBranch + "]\r\n\"ProgDir\"=\"C:\\\\Kestrone\"\r\n";
  EXPECT_TRUE(vk::RegFileStaysUnder("REGEDIT4" + body, kBranch));
  EXPECT_TRUE(vk::RegFileStaysUnder("Windows Registry Editor Version 5.00" + body, kBranch));
  EXPECT_TRUE(vk::RegFileStaysUnder(Utf16(Widen("Windows Registry Editor Version 5.00" + body)), kBranch));
  EXPECT_TRUE(vk::RegFileStaysUnder(Utf16(Widen("REGEDIT4" + body)), kBranch));
  EXPECT_TRUE(vk::RegFileStaysUnder("REGEDIT4\n", kBranch));  // nothing to import

  std::string outside = "x";
  EXPECT_FALSE(vk::RegFileStaysUnder("", kBranch, &outside));
  EXPECT_EQ(outside, "");
  EXPECT_FALSE(vk::RegFileStaysUnder("REGEDIT5" + body, kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder("Windows Registry Editor Version 4.00" + body, kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder(body, kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder("[" + kBranch + "]\r\nREGEDIT4\r\n", kBranch));
  // UTF-16 of odd length, and UTF-16 without its byte-order mark.
  EXPECT_FALSE(vk::RegFileStaysUnder(Utf16(Widen("REGEDIT4" + body)) + "x", kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder(Utf16(Widen("REGEDIT4" + body)).substr(2), kBranch));
  // Big-endian is not a format the importer reads.
  std::string be = "\xFE\xFF";
  for (char c : "REGEDIT4" + body) {
    be += '\0';
    be += c;
  }
  EXPECT_FALSE(vk::RegFileStaysUnder(be, kBranch));
}

TEST(RegFileTest, EveryKeyLineCounts) {
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string good = "[" + kBranch + "\\Sub]\r\n\"a\"=dword:00000001\r\n";
  std::string outside;
  EXPECT_TRUE(vk::RegFileStaysUnder(head + good + "[-" + kBranch + "\\Old]\r\n", kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder(head + good + "[HKEY_LOCAL_MACHINE\\Software\\Evil]\r\n\"x\"=\"y\"\r\n",
                                     kBranch, &outside));
  EXPECT_EQ(outside, "HKEY_LOCAL_MACHINE\\Software\\Evil");
  // Deleting keys elsewhere is refused as well.
  EXPECT_FALSE(vk::RegFileStaysUnder(head + good + "[-HKEY_CURRENT_USER\\Software\\Microsoft]\r\n",
                                     kBranch, &outside));
  EXPECT_EQ(outside, "HKEY_CURRENT_USER\\Software\\Microsoft");
  // Indented key lines, lone CR or NUL as line ends, and a key line without "]".
  EXPECT_FALSE(vk::RegFileStaysUnder(head + good + "  \t[HKEY_USERS\\x]\r\n", kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder(head + good + "\"v\"=\"1\"\r[HKEY_USERS\\x]\r\n", kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder(head + "[" + kBranch + "]" + std::string(1, '\0') +
                                         "[HKEY_USERS\\x]\r\n",
                                     kBranch));
  EXPECT_FALSE(vk::RegFileStaysUnder(head + "[HKEY_USERS\\x\r\n", kBranch));
  // The key runs to the last bracket.
  EXPECT_FALSE(vk::RegFileStaysUnder(head + "[" + kBranch + "]x]\r\n", kBranch));
}

TEST(RegFileTest, ValuesAndContinuationsAreNotKeys) {
  const std::string file =
      "REGEDIT4\r\n"
      "; [HKEY_LOCAL_MACHINE\\comment]\r\n"
      "[" + kBranch + "]\r\n"
      "\"Text\"=\"[HKEY_LOCAL_MACHINE\\Software]\"\r\n"
      "\"Bin\"=hex:5b,48,4b,45,59,\\\r\n"
      "  5d,00\r\n"
      "@=\"default\"\r\n"
      "\"Multi\"=hex(7):41,00,\\\r\n"
      "  00,00\r\n"
      "\r\n"
      "[" + kBranch + "\\Filebase]\r\n";
  auto keys = vk::ReadRegFileKeys(file);
  ASSERT_TRUE(keys);
  ASSERT_EQ(keys->size(), 2u);
  EXPECT_EQ((*keys)[0].path, Widen(kBranch));
  EXPECT_EQ((*keys)[0].line, 3);
  EXPECT_EQ((*keys)[1].path, Widen(kBranch + "\\Filebase"));
  EXPECT_FALSE((*keys)[1].deletion);
  EXPECT_TRUE(vk::RegFileStaysUnder(file, kBranch));

  // The same in UTF-16, with a name beyond code page 1252.
  std::u16string wide = Widen(file) + u"[" + Widen(kBranch) + u"\\\u65e5\u672c]\r\n";
  EXPECT_TRUE(vk::RegFileStaysUnder(Utf16(wide), kBranch));
  std::string outside;
  EXPECT_FALSE(vk::RegFileStaysUnder(Utf16(wide + u"[HKEY_CLASSES_ROOT\\\u65e5]\r\n"), kBranch, &outside));
  EXPECT_EQ(outside, "HKEY_CLASSES_ROOT\\?");
}

}  // namespace
