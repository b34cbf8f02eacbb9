#include "core/file_name_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vk {
namespace {

TEST(FileNameText, ReadsTheFirstTokenLikeACommandLine) {
  EXPECT_EQ(FileNameOfText("C:\\Eigene Dateien\\backup.zip"), "C:\\Eigene");
  EXPECT_EQ(FileNameOfText("\"C:\\Eigene Dateien\\backup.zip\""), "C:\\Eigene Dateien\\backup.zip");
  EXPECT_EQ(FileNameOfText("  \"\" \"\"a.zip rest"), "a.zip");
  EXPECT_EQ(FileNameOfText("C:\\\"Eigene Dateien\"\\x.zip y"), "C:\\Eigene Dateien\\x.zip");
  EXPECT_EQ(FileNameOfText("\"offen bis zum Ende"), "offen bis zum Ende");
  EXPECT_EQ(FileNameOfText(""), "");
  EXPECT_EQ(FileNameOfText("   "), "");
}

TEST(FileNameText, CollectsAtMost255Characters) {
  for (size_t length : {254u, 255u, 256u, 600u}) {
    bool tooLong = true;
    const std::string name = FileNameOfText(std::string(length, 'a') + " b", &tooLong);
    EXPECT_EQ(name.size(), std::min<size_t>(length, 255)) << length;
    EXPECT_EQ(tooLong, length > 255) << length;
  }
  bool tooLong = true;
  FileNameOfText("\"" + std::string(255, 'q') + "\"", &tooLong);
  EXPECT_FALSE(tooLong);  // the closing quote is not part of the name
}

TEST(FileNameText, SeparatorsMakeANameInvalid) {
  EXPECT_TRUE(IsValidBoxFileName("C:\\Eigene Dateien\\Größe (1).zip"));
  for (char c : std::string(";,=+<>\"[]|"))
    EXPECT_FALSE(IsValidBoxFileName(std::string("a") + c + "b.zip")) << c;
}

TEST(FileNameText, QuotesANameWithABlankOnce) {
  EXPECT_EQ(QuoteIfBlank("C:\\Eigene Dateien\\x.zip"), "\"C:\\Eigene Dateien\\x.zip\"");
  EXPECT_EQ(QuoteIfBlank("\"C:\\a b.zip\""), "\"C:\\a b.zip\"");
  EXPECT_EQ(QuoteIfBlank("C:\\ab.zip"), "C:\\ab.zip");
  EXPECT_EQ(QuoteIfBlank(""), "");
  EXPECT_EQ(FileNameOfText(QuoteIfBlank("C:\\a b\\c d.zip")), "C:\\a b\\c d.zip");
}

}  // namespace
}  // namespace vk
