// The restore run from end to end under Wine: a backup written by the backup run is
// extracted into the host directory and its registry file imported by the real REGEDIT.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/errors.h"
#include "run_fixture.h"

namespace {

using vk::testing::Answer;
using vk::testing::CancelAtFile;
using vk::testing::FileExists;
using vk::testing::ReadBytes;
using vk::testing::Watcher;
using vk::testing::WriteBytes;

const std::string kBranch = vk::testing::kBranchKey;

class RestoreRun : public vk::testing::RunFixture {
 protected:
  // Backs the sample host up into the default archive.
  void BackUp() {
    auto task = MakeTask();
    ASSERT_TRUE(Pack().RunTask(*task));
  }
  // Runs the restore, choosing `archive` in the open dialog, then answering `more`.
  std::vector<vk::testing::Answered> Restore(const std::string& archive, std::vector<Answer> more = {}) {
    std::vector<Answer> answers = {{"Sicherung laden", IDOK, archive}};
    answers.insert(answers.end(), more.begin(), more.end());
    Watcher w(answers);
    Extract().RunRestore();
    EXPECT_TRUE(w.Done());
    return w.Seen();
  }
  // A registry file whose import leaves a mark in the host's branch.
  static std::string MarkingRegFile() {
    return "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone]\r\n"
           "\"Marke\"=\"importiert\"\r\n";
  }
  static bool Marked() { return vk::testing::Snapshot().count("|Marke") == 1; }
};

TEST_F(RestoreRun, RoundTripRestoresFilesAndRegistry) {
  BackUp();
  const auto files = vk::testing::FilesBelow(Host());
  const auto registry = vk::testing::Snapshot();

  WriteBytes(HostFile("Filebase\\liste.txt"), "verändert");
  DeleteFileA(HostFile("Inbound\\a.pkt").c_str());
  WriteBytes(HostFile("Filebase\\bin.dat"), "kurz");
  WriteBytes(HostFile("Filebase\\Archiv\\alt.txt"), "nicht im Archiv, bleibt so");
  WriteBytes(HostFile("Filebase\\neu.txt"), "neu");
  vk::testing::SetString(kBranch, "Sprache", "Englisch");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, (kBranch + "\\Fenster").c_str(), "Links");
  vk::testing::SetDword(kBranch, "Zahl", 7);

  auto seen = Restore(DefaultArchive());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].fileBox.find("KestroneBackup.zip"), std::string::npos) << seen[0].fileBox;

  auto after = vk::testing::FilesBelow(Host());
  for (const auto& [rel, bytes] : files) {
    if (rel == "Filebase\\Archiv\\alt.txt") continue;
    EXPECT_EQ(after[rel], bytes) << rel;
  }
  EXPECT_EQ(after["Filebase\\Archiv\\alt.txt"], "nicht im Archiv, bleibt so");
  EXPECT_EQ(after["Filebase\\neu.txt"], "neu");
  // The registry file stays in the host directory.
  EXPECT_TRUE(FileExists(HostFile("kestrone.reg")));
  EXPECT_EQ(vk::testing::Snapshot(), registry);
  EXPECT_TRUE(Extract().HookVisible(1));
  EXPECT_TRUE(Extract().HookVisible(2));
  EXPECT_TRUE(Extract().HookVisible(3));
  EXPECT_FALSE(Extract().Visible());
}

TEST_F(RestoreRun, ArchiveThatIsNoZipEndsTheRunBeforeAnything) {
  WriteBytes(HostFile("Backup\\kaputt.zip"), "Dies ist kein Archiv, nur Text.\r\n");
  WriteBytes(HostFile("kestrone.reg"), MarkingRegFile());
  Watcher w({{"Sicherung laden", IDOK, HostFile("Backup\\kaputt.zip")}});
  try {
    Extract().RunRestore();
    ADD_FAILURE() << "no error";
  } catch (const vk::EZipDirError& e) {
    EXPECT_STREQ(e.what(), "Error 1 reading Zip File");
  }
  ASSERT_TRUE(w.Done());
  EXPECT_FALSE(Marked());  // REGEDIT did not run
  EXPECT_FALSE(Extract().HookVisible(2));
  EXPECT_FALSE(Extract().ArrowVisible(3));
}

TEST_F(RestoreRun, RegistryFileReachingBeyondTheHostIsRefused) {
  vk::testing::ZipBuilder b;
  b.AddStored("kestrone.reg",
              "REGEDIT4\r\n\r\n[" + std::string(vk::backup::kHostBranch) +
                  "]\r\n\"Sprache\"=\"Feindlich\"\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\VaultkinHostile]\r\n\"x\"=\"y\"\r\n");
  b.AddStored("Inbound/neu.pkt", "paket");
  WriteBytes(Work("fremd.zip"), b.Finish());

  auto seen = Restore(Work("fremd.zip"), {{"Fehler"}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].text.find("HKEY_CURRENT_USER\\Software\\VaultkinHostile"), std::string::npos)
      << seen[1].text;
  EXPECT_FALSE(vk::testing::KeyExists("Software\\VaultkinHostile"));
  EXPECT_EQ(vk::testing::Snapshot()["|Sprache"].data, std::string("Deutsch", 8));  // nothing imported
  EXPECT_EQ(ReadBytes(HostFile("Inbound\\neu.pkt")), "paket");
  EXPECT_FALSE(Extract().HookVisible(3));
  EXPECT_FALSE(Extract().ArrowVisible(3));
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VaultkinHostile");
}

TEST_F(RestoreRun, EntriesTheEngineRefusesAreReported) {
  vk::testing::ZipBuilder b;
  b.AddStored("../ausserhalb.txt", "darf nicht hinaus");
  b.AddStored("Inbound/ok.pkt", "ok");
  WriteBytes(Work("boese.zip"), b.Finish());
  auto seen = Restore(Work("boese.zip"), {{"Fehler"}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].text.find("1 Datei konnte nicht zurückgeschrieben werden"), std::string::npos)
      << seen[1].text;
  EXPECT_NE(seen[1].text.find("ausserhalb.txt"), std::string::npos) << seen[1].text;
  EXPECT_FALSE(FileExists(Host() + "\\..\\ausserhalb.txt"));
  EXPECT_EQ(ReadBytes(HostFile("Inbound\\ok.pkt")), "ok");
}

TEST_F(RestoreRun, CancelAsksAboutTheArchiveAndStillImports) {
  BackUp();
  // The archive holds "kestrone.reg" near its start (it lies in "."), so by the fourth
  // file it is out, and the import that follows the cancel puts the value back.
  auto sprache = [] { return vk::testing::Snapshot()["|Sprache"].data; };
  vk::testing::SetString(kBranch, "Sprache", "Englisch");
  {
    CancelAtFile cancel(Extract(), 4, /*escape=*/false);
    auto seen = Restore(DefaultArchive(), {{"Bestätigen", IDNO}});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text,
              "Der Sicherungungsvorgang wurde abgebrochen. Soll die Sicherung gelöscht werden?");
  }
  EXPECT_TRUE(FileExists(DefaultArchive()));
  EXPECT_EQ(sprache(), std::string("Deutsch", 8));
  EXPECT_TRUE(Extract().HookVisible(3));

  vk::testing::SetString(kBranch, "Sprache", "Englisch");
  {
    CancelAtFile cancel(Extract(), 4, /*escape=*/true);
    Restore(DefaultArchive(), {{"Bestätigen", IDYES}});
  }
  EXPECT_FALSE(FileExists(DefaultArchive()));
  EXPECT_EQ(sprache(), std::string("Deutsch", 8));
}

TEST_F(RestoreRun, OlderRegistryFileIsImportedWhenTheArchiveHasNone) {
  vk::testing::ZipBuilder b;
  b.AddStored("Inbound/neu.pkt", "paket");
  WriteBytes(Work("ohne.zip"), b.Finish());
  WriteBytes(HostFile("kestrone.reg"), MarkingRegFile());
  EXPECT_EQ(Restore(Work("ohne.zip")).size(), 1u);
  EXPECT_TRUE(Marked());
  EXPECT_EQ(ReadBytes(HostFile("Inbound\\neu.pkt")), "paket");
}

TEST_F(RestoreRun, EarlyEndsChangeNothing) {
  WriteBytes(HostFile("kestrone.reg"), MarkingRegFile());
  {
    Watcher w({{"Sicherung laden", IDCANCEL}});
    Extract().RunRestore();
    ASSERT_TRUE(w.Done());
  }
  EXPECT_FALSE(Marked());
  EXPECT_FALSE(Extract().Visible());

  // No host installation: the window closes without a word.
  RegDeleteKeyValueA(HKEY_CURRENT_USER, vk::testing::kBranchKey, "ProgDir");
  vk::tasks::ResetRememberedHostDirForTesting();
  {
    Watcher w({{vk::testing::kFolderBrowser, IDCANCEL}});
    Extract().RunRestore();
    ASSERT_TRUE(w.Done());
  }
  EXPECT_FALSE(Extract().Visible());
  EXPECT_FALSE(Marked());
}

}  // namespace

namespace {

// Photographs both windows in the middle of a run for scripts/screenshot.sh, which
// sets VAULTKIN_SHOT_DIR and answers each "<name>.ready" with "<name>.done".
class RunWindows : public vk::testing::RunFixture {
 protected:
  static void WaitForPhoto(const std::string& dir, const std::string& name) {
    WriteBytes(dir + "\\" + name + ".ready", "");
    for (int i = 0; i < 3000 && !FileExists(dir + "\\" + name + ".done"); ++i) {
      vk::win::App().ProcessMessages();
      Sleep(20);
    }
  }
};

TEST_F(RunWindows, Screenshots) {
  const char* dir = getenv("VAULTKIN_SHOT_DIR");
  if (!dir || !*dir) GTEST_SKIP() << "VAULTKIN_SHOT_DIR is not set (scripts/screenshot.sh sets it)";
  const std::string longName = "Filebase\\Ein sehr langer Dateiname für die Anzeige im Pfad.txt";
  WriteBytes(HostFile(longName), vk::testing::Noise(200000, 9));
  // Each window is photographed in the middle of the long file, its bar part way.
  auto pauseIn = [&](vk::backup::TRunForm& form, const std::string& name) {
    auto original = form.ZipArchiver1.OnProgress;
    auto steps = std::make_shared<int>(0);
    form.ZipArchiver1.OnProgress = [&form, original, steps, dir, name, longName](
                                       vk::backup::ProgressType t, const std::string& file, int size) {
      original(t, file, size);
      if (t == vk::backup::ProgressType::ptFileStep &&
          form.PathLabel1.Caption().find("Ein sehr langer") != std::string::npos && ++*steps == 3)
        WaitForPhoto(dir, name);
    };
    return original;
  };
  auto task = MakeTask();
  auto packHandler = pauseIn(Pack(), "pack");
  EXPECT_TRUE(Pack().RunTask(*task));
  Pack().ZipArchiver1.OnProgress = packHandler;
  auto extractHandler = pauseIn(Extract(), "extract");
  Watcher w({{"Sicherung laden", IDOK, DefaultArchive()}});
  Extract().RunRestore();
  EXPECT_TRUE(w.Done());
  Extract().ZipArchiver1.OnProgress = extractHandler;
}

}  // namespace
