#include "core/comma_list.h"

#include <gtest/gtest.h>

#include <string>

namespace vk {
namespace {

TEST(CommaList, QuotesBlanksQuotesAndCommas) {
  EXPECT_EQ(WriteCommaList({"Name=Zwei Worte", "Active=1"}), "\"Name=Zwei Worte\",Active=1");
  EXPECT_EQ(WriteCommaList({"InclDirs=.,.\\Filebase"}), "\"InclDirs=.,.\\Filebase\"");
  EXPECT_EQ(WriteCommaList({"a\"b"}), "\"a\"\"b\"");
  EXPECT_EQ(WriteCommaList({std::string("tab\there")}), "\"tab\there\"");
  EXPECT_EQ(WriteCommaList({std::string("x\x01y")}), std::string("\"x\x01y\""));
  // Characters above 127 (umlauts in code page 1252) need no quotes.
  EXPECT_EQ(WriteCommaList({"Größe=ä"}), "Größe=ä");
  EXPECT_EQ(WriteCommaList({"!", "~"}), "!,~");
}

TEST(CommaList, EmptyListAndEmptyEntries) {
  EXPECT_EQ(WriteCommaList({}), "");
  EXPECT_EQ(WriteCommaList({""}), "\"\"");
  // Only a single empty entry is written as a pair of quotes; among others it is nothing.
  EXPECT_EQ(WriteCommaList({"", ""}), ",");
  EXPECT_EQ(WriteCommaList({"a", "", "b"}), "a,,b");

  EXPECT_TRUE(ReadCommaList("").empty());
  EXPECT_TRUE(ReadCommaList("   \t\r\n").empty());
  EXPECT_EQ(ReadCommaList("\"\""), StringList{""});
  EXPECT_EQ(ReadCommaList("a,,b"), (StringList{"a", "", "b"}));
  // A comma at the very end yields nothing further; one at the start an empty entry.
  EXPECT_EQ(ReadCommaList("a,"), StringList{"a"});
  EXPECT_EQ(ReadCommaList(",a"), (StringList{"", "a"}));
}

TEST(CommaList, ReadsBackWhatItWrites) {
  const StringList cases[] = {
      {"Name=Zwei Worte", "Active=1"},
      {"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase", "x"},
      {"\"", "\"\"", "a\"", "\"a"},
      {" lead", "trail ", " "},
      {"Ä ö,ü", "ß"},
      {"", "a"},
  };
  for (const StringList& list : cases) {
    EXPECT_EQ(ReadCommaList(WriteCommaList(list)), list) << WriteCommaList(list);
  }
}

TEST(CommaList, ReadingSkipsBlanksAndSplitsAtThem) {
  EXPECT_EQ(ReadCommaList("  a , b\t,\r\n c  "), (StringList{"a", "b", "c"}));
  // An unquoted blank ends an entry, and what follows is the next entry.
  EXPECT_EQ(ReadCommaList("two words"), (StringList{"two", "words"}));
  // Text straight after a closing quote starts a new entry.
  EXPECT_EQ(ReadCommaList("\"ab\"cd,e"), (StringList{"ab", "cd", "e"}));
}

TEST(CommaList, QuotedEntries) {
  EXPECT_EQ(ReadCommaList("\"a,b\",c"), (StringList{"a,b", "c"}));
  EXPECT_EQ(ReadCommaList("\"say \"\"hi\"\"\""), StringList{"say \"hi\""});
  // A quote that is never closed runs to the end of the text.
  EXPECT_EQ(ReadCommaList("x,\"open, to the end"), (StringList{"x", "open, to the end"}));
  EXPECT_EQ(ReadCommaList("\""), StringList{""});
}

TEST(CommaList, NulEndsTheText) {
  EXPECT_EQ(ReadCommaList(std::string("a,b\0c,d", 7)), (StringList{"a", "b"}));
  EXPECT_EQ(ReadCommaList(std::string("\0a", 2)), StringList{});
}

TEST(CommaList, ValueOfKeyIgnoresCaseAndTakesTheFirst) {
  const StringList list = {"noequals", "Active=1", "AutoDays=7", "AUTODAYS=9",
                           "Empty=", "Pfad=a=b", "Öffnen=ja"};
  EXPECT_EQ(ValueOfKey(list, "active"), "1");
  EXPECT_EQ(ValueOfKey(list, "ACTIVE"), "1");
  EXPECT_EQ(ValueOfKey(list, "autodays"), "7");
  EXPECT_EQ(ValueOfKey(list, "Empty"), "");
  EXPECT_EQ(ValueOfKey(list, "Missing"), "");
  EXPECT_EQ(ValueOfKey(list, "noequals"), "");
  EXPECT_EQ(ValueOfKey(list, "Pfad"), "a=b");
  EXPECT_EQ(ValueOfKey(list, "öffnen"), "ja");
  // A key is compared whole, not as a prefix.
  EXPECT_EQ(ValueOfKey(list, "Auto"), "");
  EXPECT_EQ(ValueOfKey({"=v"}, ""), "v");
}

TEST(CommaList, AnsiCaseFolding) {
  EXPECT_TRUE(SameTextAnsi("ÄÖÜÀÉÞ", "äöüàéþ"));
  EXPECT_TRUE(SameTextAnsi("ŠŒŽŸ", "šœžÿ"));
  // × and ÷ sit where a letter pair would be, but are no letters.
  EXPECT_FALSE(SameTextAnsi("×", "÷"));
  EXPECT_FALSE(SameTextAnsi("ß", "SS"));
  EXPECT_FALSE(SameTextAnsi("[", "{"));
  EXPECT_FALSE(SameTextAnsi("a", "ab"));
  EXPECT_TRUE(SameTextAnsi("", ""));
}

TEST(Unquote, RemovesOneEnclosingPair) {
  EXPECT_EQ(Unquote("\"C:\\Backup\\x.zip\""), "C:\\Backup\\x.zip");
  EXPECT_EQ(Unquote("\"a\"\"b\""), "a\"b");
  EXPECT_EQ(Unquote("\"\"\"\""), "\"");
  EXPECT_EQ(Unquote("\"\"\"\"\"\""), "\"\"");
  EXPECT_EQ(Unquote("\"a\"\"\""), "a\"");
  EXPECT_EQ(Unquote("\"\"\""), "\"");
  EXPECT_EQ(Unquote("\"\""), "");
  EXPECT_EQ(Unquote("\"\"x\"\""), "\"x\"");
}

TEST(Unquote, LeavesOtherTextAlone) {
  EXPECT_EQ(Unquote(""), "");
  EXPECT_EQ(Unquote("\""), "\"");
  EXPECT_EQ(Unquote("\"left"), "\"left");
  EXPECT_EQ(Unquote("right\""), "right\"");
  EXPECT_EQ(Unquote("a\"\"b"), "a\"\"b");
}

}  // namespace
}  // namespace vk
