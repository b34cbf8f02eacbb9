#include "core/generation_names.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vk {
namespace {

TEST(GenerationNames, StampBeforeTheExtension) {
  LocalTime t;
  t.year = 2026, t.month = 12, t.day = 8, t.hour = 14, t.minute = 5, t.second = 33;
  EXPECT_EQ(GenerationName("C:\\K\\Backup\\KestroneBackup.zip", t),
            "C:\\K\\Backup\\KestroneBackup (2026-12-08 14-05-33).zip");
  EXPECT_EQ(GenerationName("C:\\K.d\\Sicherung", t), "C:\\K.d\\Sicherung (2026-12-08 14-05-33)");
  EXPECT_EQ(GenerationName("a.b.zip", t), "a.b (2026-12-08 14-05-33).zip");
}

TEST(GenerationNames, OnlyTheArchivesOwnStampedNamesMatch) {
  const std::string archive = "KestroneBackup.zip";
  struct Case {
    const char* name;
    bool match;
  } cases[] = {
      {"KestroneBackup (2026-12-08 14-05-33).zip", true},
      {"kestronebackup (2026-12-08 14-05-33).ZIP", true},
      {"KestroneBackup.zip", false},
      {"KestroneBackup (unvollständig).zip", false},
      {"KestroneBackup (2026-12-08 14-05-3x).zip", false},
      {"KestroneBackup (2026-12-08 14-05-33).zip.vknew", false},
      {"KestroneBackup (2026-12-08 14:05:33).zip", false},
      {"Other (2026-12-08 14-05-33).zip", false},
      {"KestroneBackup (2026-12-08 14-05-33) (2026-12-08 14-05-33).zip", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsGenerationOf(archive, c.name), c.match) << c.name;
}

TEST(GenerationNames, TheOldestBeyondTheKeptOnesGo) {
  const std::vector<std::string> names = {"K (2026-01-02 00-00-00).zip", "K (2025-12-31 23-59-59).zip",
                                          "K (2026-01-10 08-00-00).zip", "k (2026-01-02 00-00-01).zip"};
  auto gone = GenerationsBeyond(names, 2);
  std::sort(gone.begin(), gone.end());
  EXPECT_EQ(gone, (std::vector<std::string>{"K (2025-12-31 23-59-59).zip", "K (2026-01-02 00-00-00).zip"}));
  EXPECT_TRUE(GenerationsBeyond(names, 4).empty());
  EXPECT_EQ(GenerationsBeyond(names, 0).size(), 4u);
}

}  // namespace
}  // namespace vk
