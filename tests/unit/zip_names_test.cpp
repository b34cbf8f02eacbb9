#include "core/zip_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vk::zip;

TEST(ZipUtf8, DecodesStrictlyAndRoundTrips) {
  EXPECT_EQ(DecodeUtf8("abc").value(), u"abc");
  EXPECT_EQ(DecodeUtf8("\xC3\xA4\xE2\x82\xAC").value(), u"\u00E4\u20AC");
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80").value(), u"\U0001F600");
  const std::u16string mixed = u"M\u00FCller/\u20AC\U0001F600.txt";
  EXPECT_EQ(DecodeUtf8(EncodeUtf8(mixed)).value(), mixed);
  const std::vector<std::string> invalid = {
      "\xC0\x80",          // overlong NUL
      "\xE0\x80\xAF",      // overlong slash
      "\xED\xA0\x80",      // surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xC3",              // cut short
      "\x80",              // lone continuation byte
      "\xFF",
  };
  for (const auto& bytes : invalid) EXPECT_FALSE(DecodeUtf8(bytes)) << bytes.size();
}

TEST(ZipCodePages, Cp437AndCp1252) {
  // The OEM code page of old archivers: 0x84 is "ä", 0x81 "ü", 0xE1 "ß".
  EXPECT_EQ(DecodeCp437("\x84\x81\xE1"), u"\u00E4\u00FC\u00DF");
  EXPECT_EQ(DecodeCp437("a/b"), u"a/b");
  // Every CP1252 byte comes back from its UTF-16 form.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(EncodeCp1252(DecodeCp1252(all)).value(), all);
  EXPECT_EQ(DecodeCp1252("\x80"), u"\u20AC");
  EXPECT_FALSE(EncodeCp1252(u"\u03A9"));  // Omega has no CP1252 byte
}

TEST(ZipStoredName, AsciiAsIsOthersAsFlaggedUtf8) {
  const StoredName plain = StoreName(u"sub\\dir\\file.txt");
  EXPECT_EQ(plain.bytes, "sub/dir/file.txt");
  EXPECT_FALSE(plain.utf8);
  const StoredName umlaut = StoreName(u"D\u00E4ten\\M\u00FCller.txt");
  EXPECT_EQ(umlaut.bytes, "D\xC3\xA4ten/M\xC3\xBCller.txt");
  EXPECT_TRUE(umlaut.utf8);
}

TEST(ZipStoredName, ReadsBit11TheUnicodePathRecordOrCp437) {
  Entry e;
  e.name = "M\xC3\xBCller.txt";
  e.flags = kFlagUtf8;
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u00FCller.txt");
  e.flags = 0;  // the same bytes read as CP437
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u251C\u255Dller.txt");

  e.name = "M\x81ller.txt";
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u00FCller.txt");
  e.flags = kFlagUtf8;  // claimed UTF-8 but is not
  EXPECT_FALSE(DecodeEntryName(e));

  // Info-ZIP's Unicode path record applies while its CRC matches the stored name.
  e.flags = 0;
  e.name = "M?ller.txt";
  const std::string utf8 = "M\xC3\xBCller.txt";
  auto record = [&](uint32_t crc) {
    std::string extra;
    PutU16(&extra, kExtraUnicodePath);
    PutU16(&extra, static_cast<uint16_t>(5 + utf8.size()));
    extra.push_back(1);
    PutU32(&extra, crc);
    return extra + utf8;
  };
  e.extra = record(Crc32(0, e.name.data(), e.name.size()));
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u00FCller.txt");
  e.extra = record(0xDEADBEEF);  // the name was changed by a tool that ignored the record
  EXPECT_EQ(DecodeEntryName(e).value(), u"M?ller.txt");
}

TEST(ZipExtractName, RefusesEveryWayOutOfTheTarget) {
  struct Case {
    std::u16string name;
    NameProblem problem;
  };
  const std::vector<Case> cases = {
      {u"", NameProblem::kEmpty},
      {u"/", NameProblem::kAbsolute},
      {u"/etc/passwd", NameProblem::kAbsolute},
      {u"//server/share/x", NameProblem::kAbsolute},
      {u"C:/x", NameProblem::kDrive},
      {u"c:x", NameProblem::kDrive},
      {u"file.txt:stream", NameProblem::kColon},
      {u"a/b:c/d", NameProblem::kColon},
      {u"../x", NameProblem::kDotStep},
      {u"a/../../x", NameProblem::kDotStep},
      {u"a/./b", NameProblem::kDotStep},
      {u"..", NameProblem::kDotStep},
      {u"a//b", NameProblem::kEmptyStep},
      {u"a/b\u0001", NameProblem::kControl},
      {u"a\tb", NameProblem::kControl},
      {u"x\u0085y", NameProblem::kControl},
      {u"what?.txt", NameProblem::kInvalidChar},
      {u"a*b", NameProblem::kInvalidChar},
      {u"a|b", NameProblem::kInvalidChar},
      {u"a<b>", NameProblem::kInvalidChar},
      {u"say\"hi\"", NameProblem::kInvalidChar},
      {u"dir./x", NameProblem::kTrailingDotOrBlank},
      {u"dir /x", NameProblem::kTrailingDotOrBlank},
      {u"x.", NameProblem::kTrailingDotOrBlank},
      {u"CON", NameProblem::kReservedDevice},
      {u"con.txt", NameProblem::kReservedDevice},
      {u"dir/Nul.tar.gz", NameProblem::kReservedDevice},
      {u"aux /x", NameProblem::kTrailingDotOrBlank},
      {u"AUX .txt", NameProblem::kReservedDevice},
      {u"COM1", NameProblem::kReservedDevice},
      {u"lpt9.log", NameProblem::kReservedDevice},
      {u"COM\u00B9", NameProblem::kReservedDevice},
      {u"PRN/x", NameProblem::kReservedDevice},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckExtractName(c.name), c.problem) << EncodeUtf8(c.name);
}

TEST(ZipExtractName, AllowsOrdinaryNames) {
  const std::vector<std::u16string> fine = {
      u"a", u"dir/", u"dir/sub/", u"kestrone.reg", u"Daten/M\u00FCller.txt", u".hidden",
      u"a..b", u"COM10", u"COM0", u"CONSOLE", u"LPT", u"x/console.log", u" leading",
      std::u16string(300, u'n'),
  };
  for (const auto& name : fine) EXPECT_EQ(CheckExtractName(name), NameProblem::kOk) << EncodeUtf8(name);
  EXPECT_EQ(CheckExtractName(u"dir//"), NameProblem::kEmptyStep);
}

TEST(ZipCodePages, OemNamesInTheSystemsCodePage) {
  // A German Windows writes 850: 0x9B "ø", 0x9D "Ø", 0x9E "×" where 437 has "¢", "¥", "₧".
  EXPECT_EQ(DecodeOem("\x9B\x9D\x9E\x84", kCp850), u"\u00F8\u00D8\u00D7\u00E4");
  EXPECT_EQ(DecodeOem("\x9B\x9D\x9E\x84", kCp437), u"\u00A2\u00A5\u20A7\u00E4");
  EXPECT_EQ(&OemTableFor(850), &kCp850);
  EXPECT_EQ(&OemTableFor(437), &kCp437);
  EXPECT_EQ(&OemTableFor(866), &kCp437);  // one the program does not carry
  Entry e;
  e.name = "K\x9Bge.txt";
  e.versionMadeBy = 20;  // DOS
  EXPECT_EQ(DecodeEntryName(e, kCp850).value(), u"K\u00F8ge.txt");
  EXPECT_EQ(DecodeEntryName(e).value(), u"K\u00A2ge.txt");
}

TEST(ZipFoldCase, LatinLettersCompareWithoutCase) {
  EXPECT_EQ(FoldCase(u"abc\u00E4\u00F6\u00FC\u00FF\u0161\u017E\u0153"),
            u"ABC\u00C4\u00D6\u00DC\u0178\u0160\u017D\u0152");
  EXPECT_EQ(FoldCase(u"\u00DF\u00F7"), u"\u00DF\u00F7");  // no upper form
  EXPECT_EQ(FoldCase(u"\u00E0"), FoldCase(u"\u00C0"));
  // Beyond Latin-1: Vietnamese, full-width, Latin Extended-B (with a title case),
  // Armenian, Greek final sigma, Cyrillic, Georgian and Glagolitic pairs.
  EXPECT_EQ(FoldCase(u"\u1EA1\uFF41\u0183\u01C6\u01C5\u0561\u03C2\u0450\u2D00\u2C30"),
            u"\u1EA0\uFF21\u0182\u01C4\u01C4\u0531\u03A3\u0400\u10A0\u2C00");
  EXPECT_EQ(FoldCase(u"\u1EA0\uFF21\u0531"), u"\u1EA0\uFF21\u0531");  // already upper
  // Nothing folds into ASCII: dotless i and long s keep their own names.
  EXPECT_EQ(FoldCase(u"\u0131\u017F"), u"\u0131\u017F");
}

TEST(ZipWildcard, DosPatterns) {
  EXPECT_TRUE(MatchWildcard(u"*.*", u"README"));
  EXPECT_TRUE(MatchWildcard(u"*.*", u"a.b.c"));
  EXPECT_TRUE(MatchWildcard(u"*", u""));
  EXPECT_TRUE(MatchWildcard(u"*.TXT", u"notes.txt"));
  EXPECT_FALSE(MatchWildcard(u"*.txt", u"notes.txt.bak"));
  EXPECT_TRUE(MatchWildcard(u"a?c", u"abc"));
  EXPECT_FALSE(MatchWildcard(u"a?c", u"ac"));
  EXPECT_TRUE(MatchWildcard(u"data.*", u"data"));
  EXPECT_TRUE(MatchWildcard(u"*a*b*c", u"xxaxxbxxbxc"));
  EXPECT_FALSE(MatchWildcard(u"*a*b*c", u"xxaxxbxxbx"));
  EXPECT_TRUE(MatchWildcard(u"\u00C4*", u"\u00E4rger"));
  EXPECT_TRUE(MatchWildcard(u"dir/*", u"dir/sub/file"));
  EXPECT_TRUE(HasWildcard(u"d\\*.*"));
  EXPECT_FALSE(HasWildcard(u"plain.txt"));
}

TEST(ZipStoredName, UnixHostsMeanUtf8WithoutSayingSo) {
  Entry e;
  e.name = "M\xC3\xBCller.txt";
  e.versionMadeBy = (3 << 8) | 30;  // Info-ZIP on Unix: raw UTF-8, no bit 11
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u00FCller.txt");
  e.name = "M\x81ller.txt";  // not UTF-8: code page 437 after all
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u00FCller.txt");
  e.name = "M\xC3\xBCller.txt";
  e.versionMadeBy = (0 << 8) | 20;  // DOS: code page 437
  EXPECT_EQ(DecodeEntryName(e).value(), u"M\u251C\u255Dller.txt");
}

TEST(ZipStoredName, Utf8NamesAreMarkedAsMadeOnUnix) {
  Entry e;
  SetNameAndAttributes(&e, u"sub\\plain.txt", 0x21);
  EXPECT_EQ(e.name, "sub/plain.txt");
  EXPECT_EQ(e.flags & kFlagUtf8, 0);
  EXPECT_EQ(e.versionMadeBy >> 8, 0);
  EXPECT_EQ(e.externalAttributes, 0x21u);
  SetNameAndAttributes(&e, u"Stra\u00DFe.txt", 0x01);  // read-only
  EXPECT_EQ(e.name, "Stra\xC3\x9F" "e.txt");
  EXPECT_NE(e.flags & kFlagUtf8, 0);
  EXPECT_EQ(e.versionMadeBy >> 8, 3);
  EXPECT_EQ(e.externalAttributes, (0100444u << 16) | 0x01);
  EXPECT_FALSE(e.IsSymbolicLink());
  EXPECT_EQ(DecodeEntryName(e).value(), u"Stra\u00DFe.txt");
}
