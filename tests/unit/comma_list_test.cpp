#include "core/comma_list.h"

#include <gtest/gtest.h>

#include <string>

namespace vk {
namespace {

TEST(CommaList, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(WriteCommaList({"Name=Zwei Worte", "Active=1"}), "\"Name=Zwei Worte\",Active=1");
  EXPECT_EQ(WriteCommaList({"InclDirs=.,.\\Filebase"}), "\"InclDirs=.,.\\Filebase\"");
  EXPECT_EQ(WriteCommaList({"a\"b", "tab\there", "Größe=ä"}), "\"a\"\"b\",\"tab\there\",Größe=ä");
  EXPECT_EQ(WriteCommaList({}), "");
  EXPECT_EQ(WriteCommaList({""}), "\"\"");
  EXPECT_EQ(WriteCommaList({"a", "", "b"}), "a,,b");
  EXPECT_EQ(WriteCommaList({"a", ""}), "a,\"\"");
}

TEST(CommaList, ReadsBackWhatItWrites) {
  const StringList cases[] = {
      {"Name=Zwei Worte", "Active=1"}, {"InclDirs=.,.\\Filebase,.\\MsgBase", "x"},
      {"\"", "\"\"", "a\"", "\"a"},    {" lead", "trail ", " "},
      {"Ä ö,ü", "ß"},                  {""},
      {"", "a"},                       {"a", ""},  // found by fuzzing: the empty last one was lost
  };
  for (const StringList& list : cases)
    EXPECT_EQ(ReadCommaList(WriteCommaList(list)), list) << WriteCommaList(list);
}

TEST(CommaList, ReadingLooserText) {
  EXPECT_TRUE(ReadCommaList(" \t\r\n").empty());
  EXPECT_EQ(ReadCommaList("  a , b\t,\r\n c  "), (StringList{"a", "b", "c"}));
  EXPECT_EQ(ReadCommaList("two words"), (StringList{"two", "words"}));
  EXPECT_EQ(ReadCommaList("\"ab\"cd,e"), (StringList{"ab", "cd", "e"}));
  // A comma at the very end yields nothing further; one at the start an empty entry.
  EXPECT_EQ(ReadCommaList(",a,"), (StringList{"", "a"}));
  // A quote that is never closed runs to the end of the text.
  EXPECT_EQ(ReadCommaList("x,\"open, to the end"), (StringList{"x", "open, to the end"}));
  // A NUL ends the text instead of stalling the scan.
  EXPECT_EQ(ReadCommaList(std::string("a,b\0c,d", 7)), (StringList{"a", "b"}));
}

TEST(CommaList, ValueOfKeyIgnoresCaseAndTakesTheFirst) {
  const StringList list = {"noequals", "Active=1", "AutoDays=7", "AUTODAYS=9",
                           "Empty=", "Pfad=a=b", "Öffnen=ja"};
  EXPECT_EQ(ValueOfKey(list, "active"), "1");
  EXPECT_EQ(ValueOfKey(list, "autodays"), "7");
  EXPECT_EQ(ValueOfKey(list, "Empty"), "");
  EXPECT_EQ(ValueOfKey(list, "Missing"), "");
  EXPECT_EQ(ValueOfKey(list, "noequals"), "");
  EXPECT_EQ(ValueOfKey(list, "Auto"), "");
  EXPECT_EQ(ValueOfKey(list, "Pfad"), "a=b");
  EXPECT_EQ(ValueOfKey(list, "öffnen"), "ja");
}

TEST(CommaList, AnsiCaseFolding) {
  EXPECT_TRUE(SameTextAnsi("ÄÖÜÀÉÞŠŒŽŸ", "äöüàéþšœžÿ"));
  EXPECT_FALSE(SameTextAnsi("×", "÷"));  // where a letter pair would be, but no letters
  EXPECT_FALSE(SameTextAnsi("ß", "SS"));
  EXPECT_FALSE(SameTextAnsi("[", "{"));
}

TEST(Unquote, RemovesOneEnclosingPair) {
  EXPECT_EQ(Unquote("\"C:\\Backup\\x.zip\""), "C:\\Backup\\x.zip");
  EXPECT_EQ(Unquote("\"a\"\"b\""), "a\"b");
  EXPECT_EQ(Unquote("\"\"\"\"\"\""), "\"\"");
  EXPECT_EQ(Unquote("\"\"\""), "\"");
  EXPECT_EQ(Unquote("\"\""), "");
  // Anything not enclosed on both sides stays as it is.
  for (const char* same : {"", "\"", "\"left", "right\"", "a\"\"b"}) EXPECT_EQ(Unquote(same), same);
}

}  // namespace
}  // namespace vk
