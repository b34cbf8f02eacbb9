#include "core/restore_texts.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

zip::DosDateTime Dos(int year, int month, int day, int hour, int minute, int second) {
  return zip::ToDosDateTime({year, month, day, hour, minute, second});
}

TEST(RestoreTexts, NewerOnlyBeyondTheTwoSecondStep) {
  const zip::DosDateTime entry = Dos(2026, 12, 9, 10, 0, 0);
  struct Case {
    zip::DosDateTime disk;
    bool newer;
  } cases[] = {
      {Dos(2026, 12, 9, 10, 0, 1), false},  // the same step: the archive rounded it down
      {Dos(2026, 12, 9, 10, 0, 0), false},
      {Dos(2026, 12, 9, 10, 0, 2), true},
      {Dos(2026, 12, 9, 9, 59, 58), false},
      {Dos(2026, 12, 10, 0, 0, 0), true},   // a later day outweighs an earlier hour
      {Dos(2026, 12, 8, 23, 59, 58), false},
      {Dos(2027, 1, 1, 0, 0, 0), true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsNewerOnDisk(c.disk, entry), c.newer) << c.disk.date << " " << c.disk.time;
}

TEST(RestoreTexts, QuestionNamesTheFirstFewAndCountsTheRest) {
  EXPECT_EQ(GermanDateTime({2026, 3, 4, 5, 6, 7}), "04.03.2026 05:06");
  const std::string one = NewerFilesQuestion({"Filebase\\a.txt"}, "04.03.2026 05:06");
  EXPECT_NE(one.find("1 Datei der Installation ist neuer als in der Sicherung vom 04.03.2026 05:06 und würde"),
            std::string::npos)
      << one;
  EXPECT_EQ(one.find("weitere"), std::string::npos);

  std::vector<std::string> names;
  for (size_t n = 1; n <= kNamedNewerFiles + 2; ++n) {
    names.push_back("f" + std::to_string(n));
    const std::string text = NewerFilesQuestion(names, "d");
    EXPECT_NE(text.find(std::to_string(n) + " Datei"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nf" + std::to_string(kNamedNewerFiles + 1) + "\n"), std::string::npos) << text;
    const bool more = n > kNamedNewerFiles;
    EXPECT_EQ(text.find("… und " + std::to_string(n - kNamedNewerFiles) + " weitere") != std::string::npos, more)
        << text;
  }
}

TEST(RestoreTexts, SummaryCountsAndNamesTheUndoCopy) {
  const std::string both = RestoreSummary(1, 12, "C:\\K\\Backup\\u.zip");
  EXPECT_NE(both.find("1 Datei wurde geschrieben, 12 Dateien waren bereits richtig"), std::string::npos) << both;
  EXPECT_NE(both.find("\"C:\\K\\Backup\\u.zip\""), std::string::npos) << both;
  const std::string none = RestoreSummary(3, 1, "");
  EXPECT_NE(none.find("3 Dateien wurden geschrieben, 1 Datei war bereits richtig und blieb, wie sie war."), std::string::npos)
      << none;
  EXPECT_NE(none.find("eine Rückgängig-Kopie war nicht nötig"), std::string::npos) << none;
}

}  // namespace
}  // namespace vk
