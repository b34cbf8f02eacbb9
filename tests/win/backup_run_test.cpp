// The backup run from end to end under Wine: the real REGEDIT, the real engine, the
// real common dialogs and message boxes, answered by a watcher thread.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/regfile.h"
#include "core/zip_directory.h"
#include "core/zip_format.h"
#include "engine_faults.h"
#include "run_fixture.h"

namespace {

using vk::backup::ProgressType;
using vk::testing::Answer;
using vk::testing::ReadBytes;
using vk::testing::Watcher;
using vk::testing::WriteBytes;
using vk::testing::IsFile;
using vk::testing::CancelAtFile;

std::u16string Utf16Text(const std::string& bytes) {
  std::u16string s;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    s += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return s;
}

std::u16string Widen(const std::string& s) {
  std::u16string w;
  for (char c : s) w += static_cast<char16_t>(static_cast<unsigned char>(c));
  return w;
}

// What lies in the backup folder besides the archive: leftovers of the engine or run.
std::vector<std::string> Leftovers(const std::string& dir, const std::string& archiveName) {
  std::vector<std::string> extra;
  for (const auto& [name, bytes] : vk::testing::FilesBelow(dir))
    if (name != archiveName) extra.push_back(name);
  return extra;
}

class BackupRun : public vk::testing::RunFixture {
 protected:
  // An archive standing for the previous backup.
  std::string PreviousArchive() {
    vk::testing::ZipBuilder b;
    b.AddStored("stale.txt", "from the backup before");
    std::string bytes = b.Finish();
    WriteBytes(DefaultArchive(), bytes);
    return bytes;
  }
  // The sample host's files that MakeTask() backs up, as paths below the host.
  static std::vector<std::string> PackedFiles() {
    return {"Kestrone.ini", "Filebase\\liste.txt", "Filebase\\Grüße.txt", "Filebase\\bin.dat", "Inbound\\a.pkt",
            "MsgBase\\msg.dat"};
  }
  std::string Incomplete() const {
    const std::string name = HostFile("Backup\\KestroneBackup (unvollständig).zip");
    EXPECT_EQ(vk::backup::TPackForm::IncompleteArchive(DefaultArchive()), name);
    return name;
  }
};

TEST_F(BackupRun, RunsWithoutDialogAndPacksExactlyTheListedDirectories) {
  PreviousArchive();
  auto task = MakeTask();
  double before = vk::tasks::Now();
  ASSERT_TRUE(Pack().RunTask(*task));

  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())), Sorted(ExpectedNames()));
  EXPECT_FALSE(IsFile(HostFile("kestrone.reg")));
  EXPECT_GE(task->LastBackup, before);
  EXPECT_LE(task->LastBackup, vk::tasks::Now());
  EXPECT_TRUE(Leftovers(Host() + "\\Backup", "KestroneBackup.zip").empty());
  EXPECT_FALSE(Pack().Visible());
  EXPECT_TRUE(Pack().HookVisible(1));
  EXPECT_TRUE(Pack().HookVisible(2));
  EXPECT_TRUE(Pack().HookVisible(3));

  // The files come back byte for byte, and "kestrone.reg" holds the registry branch.
  vk::backup::TZipArchiver unzip;
  unzip.ExtrOptions = {vk::backup::ExtrDirNames, vk::backup::ExtrOverWrite};
  ASSERT_TRUE(SetCurrentDirectoryA(WorkDir().c_str()));
  unzip.SetZipFilename(DefaultArchive());
  unzip.Extract();
  EXPECT_EQ(unzip.DllResult(), 7);
  auto files = vk::testing::FilesBelow(WorkDir());
  for (const std::string& rel : PackedFiles())
    EXPECT_EQ(files[rel], ReadBytes(HostFile(rel))) << rel;

  const std::string reg = files["kestrone.reg"];
  auto keys = vk::ReadRegFileKeys(reg);
  ASSERT_TRUE(keys);
  std::vector<std::u16string> paths;
  for (const auto& k : *keys) paths.push_back(k.path);
  const std::string branch = vk::backup::kHostBranch;
  EXPECT_EQ(paths, (std::vector<std::u16string>{Widen(branch), Widen(branch + "\\Fenster")}));
  std::u16string text = Utf16Text(reg);
  std::string progDir;
  for (char c : Host()) progDir += c == '\\' ? std::string("\\\\") : std::string(1, c);
  for (const std::string& line :
       {"\"ProgDir\"=\"" + progDir + "\"", std::string("\"Sprache\"=\"Deutsch\""),
        std::string("\"Zahl\"=dword:0000002a"), std::string("\"Binaer\"=hex:01,02,00,ff"),
        std::string("\"Titel\"=\"Hauptfenster äöü\""), std::string("\"Links\"=dword:0000000a")})
    EXPECT_NE(text.find(Widen(line)), std::u16string::npos) << line;
}

TEST_F(BackupRun, IncludedDirectoriesAreTakenOneByOne) {
  CreateDirectoryA(HostFile("Mit Blank").c_str(), nullptr);
  WriteBytes(HostFile("Mit Blank\\x.txt"), "x");
  auto task = MakeTask();
  task->SaveRegistry = false;
  // Quoted: one directory with a blank. The sub-directory only because it is listed
  // itself; a directory that does not exist adds nothing, nor one on a drive, which is
  // none below the host directory; "." twice adds nothing twice.
  task->InclDirs = "\".\\Mit Blank\",.\\Filebase\\Archiv,.\\Gibtesnicht,C:\\windows,.,.\\";
  ASSERT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())),
            Sorted({"Mit Blank/x.txt", "Filebase/Archiv/alt.txt", "Kestrone.ini"}));

  // Unquoted, the name falls apart into ".\Mit" and "Blank", neither of which exists.
  // A directory named again in other letter case is the same directory.
  task->InclDirs = ".\\Mit Blank,.\\Inbound,.\\INBOUND";
  ASSERT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(vk::testing::ArchiveNames(DefaultArchive()), std::vector<std::string>{"Inbound/a.pkt"});

  // Neither files nor registry: nothing to pack is a failure, not an empty success;
  // the same when the included directories hold no file.
  task->InclDirs = ".\\Gibtesnicht";
  for (bool files : {true, false}) {
    task->SaveFiles = files;
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_NE(w.Seen()[0].text.find("keine Datei zum Sichern"), std::string::npos) << w.Seen()[0].text;
    EXPECT_EQ(vk::testing::ArchiveNames(DefaultArchive()), std::vector<std::string>{"Inbound/a.pkt"});
  }

  // Registry only.
  task->SaveRegistry = true;
  ASSERT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(vk::testing::ArchiveNames(DefaultArchive()), std::vector<std::string>{"kestrone.reg"});
}

TEST_F(BackupRun, ManyDirectoriesAreListedTogetherAndPackedInTheTasksOrder) {
  // Enough directories that several threads list them; named backwards, once twice,
  // and one that does not exist.
  std::string dirs = "Fehlt";
  std::vector<std::string> order;
  for (int i = 0; i < 40; ++i) {
    const std::string d = "V" + std::to_string(i);
    CreateDirectoryA(HostFile(d).c_str(), nullptr);
    WriteBytes(HostFile(d + "\\a.txt"), d);
    WriteBytes(HostFile(d + "\\b.txt"), d);
    dirs = d + "," + dirs;
    order.insert(order.begin(), d);
  }
  auto task = MakeTask();
  task->SaveRegistry = false;
  task->InclDirs = dirs + ",.\\V7";
  ASSERT_TRUE(Pack().RunTask(*task));
  std::vector<std::string> seen;
  const auto names = vk::testing::ArchiveNames(DefaultArchive());
  for (const std::string& n : names) {
    const std::string d = n.substr(0, n.find('/'));
    if (seen.empty() || seen.back() != d) seen.push_back(d);
  }
  EXPECT_EQ(names.size(), 80u);
  EXPECT_EQ(seen, order);
}

TEST_F(BackupRun, ProgramFilesAreNotPacked) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string exeDir = vk::tasks::ExtractFileDir(self);
  std::string exeName = std::string(self).substr(exeDir.size() + 1);
  vk::testing::SetString(vk::testing::kBranchKey, "ProgDir", exeDir);
  auto task = MakeTask();
  task->SaveRegistry = false;
  task->InclDirs = ".";
  task->DefZipName = Work("self.zip");
  Pack().ZipArchiver1.AddCompLevel = 0;
  // Another file of that folder shows that the folder itself was packed.
  WriteBytes(exeDir + "\\vk_selftest.txt", "x");
  ASSERT_TRUE(Pack().RunTask(*task));
  DeleteFileA((exeDir + "\\vk_selftest.txt").c_str());
  auto names = vk::testing::ArchiveNames(Work("self.zip"));
  EXPECT_NE(std::find(names.begin(), names.end(), "vk_selftest.txt"), names.end());
  for (const std::string& n : names)
    for (const std::string& own : {exeName, std::string("VKZIP.DLL"), std::string("VKUNZIP.DLL")})
      EXPECT_NE(_stricmp(n.c_str(), own.c_str()), 0) << n;
}

TEST_F(BackupRun, SaveDialogWhenAskedForOrDirectoryMissing) {
  auto task = MakeTask();
  task->UseDefZipName = false;
  {
    Watcher w({{"Sicherung speichern unter...", IDOK, Work("gewählt.zip")}});
    ASSERT_TRUE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(_stricmp(w.DialogFolder().c_str(), (Host() + "\\Backup").c_str()), 0) << w.DialogFolder();
  }
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(Work("gewählt.zip"))), Sorted(ExpectedNames()));
  EXPECT_FALSE(IsFile(DefaultArchive()));

  // Cancelled: nothing written, but the attempt counts as the last backup.
  task->LastBackup = 0;
  {
    Watcher w({{"Sicherung speichern unter...", IDCANCEL}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
  }
  EXPECT_GT(task->LastBackup, 0);
  EXPECT_FALSE(IsFile(DefaultArchive()));
  EXPECT_FALSE(IsFile(HostFile("kestrone.reg")));
  EXPECT_FALSE(Pack().Visible());

  // A fixed name in a folder that is not there asks as well; the quotes go.
  task->UseDefZipName = true;
  task->DefZipName = "\"" + HostFile("Nirgends\\x.zip") + "\"";
  {
    Watcher w({{"Sicherung speichern unter...", IDCANCEL}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
  }
  EXPECT_EQ(task->DefZipName, HostFile("Nirgends\\x.zip"));
}

TEST_F(BackupRun, ExistingRegistryFileIsOnlyOverwrittenWhenConfirmed) {
  WriteBytes(HostFile("kestrone.reg"), "REGEDIT4\r\n");
  auto task = MakeTask();
  {
    Watcher w({{"Bestätigen", IDNO}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[0].text, "Die Datei \"" + HostFile("kestrone.reg") +
                                    "\" existiert bereits. Soll die vorhandene Datei überschrieben werden?");
  }
  EXPECT_FALSE(IsFile(DefaultArchive()));
  EXPECT_EQ(ReadBytes(HostFile("kestrone.reg")), "REGEDIT4\r\n");

  {
    Watcher w({{"Bestätigen", IDYES}});
    EXPECT_TRUE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
  }
  EXPECT_FALSE(IsFile(HostFile("kestrone.reg")));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())), Sorted(ExpectedNames()));
}

TEST_F(BackupRun, CancelKeepsThePreviousArchiveOrTheIncompleteOne) {
  const std::string previous = PreviousArchive();
  auto task = MakeTask();
  {
    // "Ja": the incomplete archive is thrown away, the previous one stays.
    CancelAtFile cancel(Pack(), 3, /*escape=*/true);
    Watcher w({{"Bestätigen", IDYES}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[0].text,
              "Der Sicherungungsvorgang wurde abgebrochen. Soll die Sicherung gelöscht werden?");
    EXPECT_EQ(cancel.Starts(), 3);
  }
  EXPECT_EQ(ReadBytes(DefaultArchive()), previous);
  EXPECT_TRUE(Leftovers(Host() + "\\Backup", "KestroneBackup.zip").empty());
  EXPECT_FALSE(IsFile(HostFile("kestrone.reg")));

  {
    // "Nein": the files packed so far are kept beside the previous archive, and the
    // user is told where.
    CancelAtFile cancel(Pack(), 3, /*escape=*/false);
    Watcher w({{"Bestätigen", IDNO}, {"Information"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[1].text, "Die bis zum Abbruch gesicherten Dateien wurden als \"" + Incomplete() +
                                    "\" gespeichert.");
  }
  EXPECT_EQ(ReadBytes(DefaultArchive()), previous);
  auto names = vk::testing::ArchiveNames(Incomplete());
  EXPECT_GE(names.size(), 1u);
  EXPECT_LT(names.size(), ExpectedNames().size());
  for (const std::string& n : names)
    EXPECT_NE(std::find(ExpectedNames().begin(), ExpectedNames().end(), n), ExpectedNames().end()) << n;
  EXPECT_EQ(Leftovers(Host() + "\\Backup", "KestroneBackup.zip"),
            std::vector<std::string>{"KestroneBackup (unvollständig).zip"});

  {
    // After the last file the engine reads the archive back; that check is shown
    // and can be cancelled too. An unchecked archive is never kept.
    CancelAtFile cancel(Pack(), static_cast<int>(ExpectedNames().size()) + 1, /*escape=*/false);
    Watcher w({{"Bestätigen", IDNO}, {"Information"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(Pack().PathLabel1.Caption(), vk::engine::kCheckLabel);
    EXPECT_EQ(w.Seen()[1].text, "Es wurde keine unvollständige Sicherung gespeichert: der Abbruch kam, bevor "
                                "eine Datei gesichert und geprüft war.");
  }
  EXPECT_EQ(ReadBytes(DefaultArchive()), previous);
  EXPECT_EQ(vk::testing::ArchiveNames(Incomplete()), names);

  {
    // A cancel at the first file leaves an archive of nothing: it does not take the
    // place of the incomplete backup that holds data.
    const std::string kept = ReadBytes(Incomplete());
    CancelAtFile cancel(Pack(), 1, /*escape=*/false);
    Watcher w({{"Bestätigen", IDNO}, {"Information"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[1].text, "Es wurde keine unvollständige Sicherung gespeichert: der Abbruch kam, bevor "
                                "eine Datei gesichert und geprüft war.");
    EXPECT_EQ(ReadBytes(Incomplete()), kept);
  }

  // A press seen before packing begins has no effect.
  SendMessageA(Pack().Item(IDCANCEL), BM_CLICK, 0, 0);
  ASSERT_TRUE(Pack().Canceled);  // the press was seen
  EXPECT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())), Sorted(ExpectedNames()));
  EXPECT_TRUE(Leftovers(Host() + "\\Backup", "KestroneBackup.zip").empty());
}

// The CRC of one entry, read with the format core.
uint32_t EntryCrc(const std::string& archive, const std::string& name) {
  std::string bytes = ReadBytes(archive);
  vk::zip::MemoryAccess access(bytes);
  for (const vk::zip::Entry& e : vk::zip::ReadDirectory(access).entries)
    if (e.name == name) return e.crc;
  return 0;
}

uint32_t Crc(const std::string& data) { return vk::zip::Crc32(0, data.data(), data.size()); }

// Dates an archive as written on day `day` of December 2026, 10:00 local time.
void WrittenOn(const std::string& path, int day) {
  SYSTEMTIME st = {2026, 12, 0, static_cast<WORD>(day), 10, 0, 0, 0};
  FILETIME local, utc;
  SystemTimeToFileTime(&st, &local);
  LocalFileTimeToFileTime(&local, &utc);
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetFileTime(h, nullptr, nullptr, &utc);
  CloseHandle(h);
}

TEST_F(BackupRun, GenerationsKeepTheLastCompleteBackupsByTheirTime) {
  auto task = MakeTask();
  task->Generations = 3;
  WriteBytes(HostFile("Backup\\KestroneBackup (2026-11-30 10-00-00).zip.txt"), "kein Archiv der Aufgabe");
  const auto older = [&](int day) { return HostFile("Backup\\KestroneBackup (2026-12-0" + std::to_string(day) + " 10-00-00).zip"); };
  for (int day = 1; day <= 4; ++day) {
    WriteBytes(HostFile("MsgBase\\msg.dat"), "Stand " + std::to_string(day));
    ASSERT_TRUE(Pack().RunTask(*task)) << day;
    WrittenOn(DefaultArchive(), day);
  }
  // The newest under its own name, the two before it under their times, the first gone.
  EXPECT_EQ(Leftovers(Host() + "\\Backup", "KestroneBackup.zip"),
            (std::vector<std::string>{"KestroneBackup (2026-11-30 10-00-00).zip.txt", "KestroneBackup (2026-12-02 10-00-00).zip",
                                      "KestroneBackup (2026-12-03 10-00-00).zip"}));
  EXPECT_EQ(EntryCrc(DefaultArchive(), "MsgBase/msg.dat"), Crc("Stand 4"));
  EXPECT_EQ(EntryCrc(older(3), "MsgBase/msg.dat"), Crc("Stand 3"));
  EXPECT_EQ(EntryCrc(older(2), "MsgBase/msg.dat"), Crc("Stand 2"));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(older(2))), Sorted(ExpectedNames()));  // older ones are never packed

  // Runs that bring no complete backup change none of the three.
  const auto folder = vk::testing::FilesBelow(Host() + "\\Backup");
  WriteBytes(HostFile("MsgBase\\msg.dat"), "Stand 5");
  {
    CancelAtFile cancel(Pack(), 3, /*escape=*/true);
    Watcher w({{"Bestätigen", IDYES}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
  }
  {
    // Changed, so that it must be read: an unchanged file would be taken over from
    // the newest backup without being opened, however slowly the test runs.
    WriteBytes(HostFile("Filebase\\liste.txt"), "Stand 5");
    vk::testing::OtherProcessHolds holder(HostFile("Filebase\\liste.txt"));
    ASSERT_EQ(holder.Answer(), "ok");
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(holder.Release(), "ok");
  }
  auto after = vk::testing::FilesBelow(Host() + "\\Backup");
  EXPECT_EQ(after.erase("KestroneBackup (unvollständig).zip"), 1u);
  EXPECT_TRUE(after == folder);

  // With the name asked for each time, older backups are left alone.
  task->UseDefZipName = false;
  {
    Watcher w({{"Sicherung speichern unter...", IDOK, Work("gewählt.zip")}});
    EXPECT_TRUE(Pack().RunTask(*task));
  }
  EXPECT_EQ(EntryCrc(Work("gewählt.zip"), "MsgBase/msg.dat"), Crc("Stand 5"));
  EXPECT_TRUE(IsFile(older(3)) && IsFile(older(2)));
}

TEST_F(BackupRun, ArchivesOfTheTaskAreNeverPackedOtherArchivesAre) {
  auto task = MakeTask();
  task->SaveRegistry = false;
  task->InclDirs = ".\\Backup,.\\Inbound";
  WriteBytes(HostFile("Backup\\fremd.zip"), "ein anderes Archiv");
  WriteBytes(Incomplete(), "eine alte unvollständige Sicherung");
  WriteBytes(vk::backup::UndoCopyPath(Host()), "die Rückgängig-Kopie eines Zurückschreibens");
  ASSERT_TRUE(Pack().RunTask(*task));
  ASSERT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())), Sorted({"Backup/fremd.zip", "Inbound/a.pkt"}));
  EXPECT_FALSE(IsFile(Incomplete()));
}

TEST_F(BackupRun, MissingFilesOrRegistryKeepAnIncompleteBackupBeside) {
  const std::string previous = PreviousArchive();
  auto task = MakeTask();
  auto without = [](const std::string& name) {
    std::vector<std::string> v = ExpectedNames();
    v.erase(std::find(v.begin(), v.end(), name));
    return Sorted(v);
  };
  WriteBytes(HostFile("MsgBase\\msg.dat"), "neuer Stand");
  {
    // Held without sharing by another program for longer than the retries last.
    vk::testing::OtherProcessHolds holder(HostFile("Filebase\\liste.txt"));
    ASSERT_EQ(holder.Answer(), "ok");
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    const std::string text = w.Seen()[0].text;
    for (const std::string& part : {std::string("Die Sicherung ist unvollständig."),
                                    std::string("1 Datei konnte nicht gesichert werden"),
                                    std::string("liste.txt"), Incomplete(), DefaultArchive()})
      EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_EQ(holder.Release(), "ok");
  }
  EXPECT_EQ(ReadBytes(DefaultArchive()), previous);
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(Incomplete())), without("Filebase/liste.txt"));
  EXPECT_EQ(Leftovers(Host() + "\\Backup", "KestroneBackup.zip"),
            std::vector<std::string>{"KestroneBackup (unvollständig).zip"});
  EXPECT_FALSE(IsFile(HostFile("kestrone.reg")));

  // The incomplete backup restores what it holds.
  vk::testing::WriteOld(HostFile("MsgBase\\msg.dat"), "verloren");
  {
    Watcher w({{"Sicherung laden", IDOK, Incomplete()}, {"Information"}});
    Extract().RunRestore();
    ASSERT_TRUE(w.Done());
  }
  EXPECT_EQ(ReadBytes(HostFile("MsgBase\\msg.dat")), "neuer Stand");
  DeleteFileA(HostFile("kestrone.reg").c_str());

  {
    // REGEDIT cannot be started: the files are all there, the registry is not.
    vk::backup::TRunForm::SetRegeditDirForTesting(Work("kein-windows"));
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    vk::backup::TRunForm::SetRegeditDirForTesting("");
    EXPECT_NE(w.Seen()[0].text.find("REGEDIT konnte nicht gestartet werden"), std::string::npos)
        << w.Seen()[0].text;
  }
  EXPECT_EQ(ReadBytes(DefaultArchive()), previous);
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(Incomplete())), without("kestrone.reg"));

  // The next complete backup replaces the archive and removes the incomplete one.
  EXPECT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())), Sorted(ExpectedNames()));
  // Beside it only the undo copy of the restore above.
  EXPECT_EQ(Leftovers(Host() + "\\Backup", "KestroneBackup.zip"),
            std::vector<std::string>{"KestroneBackup (vor dem Zurückschreiben).zip"});
}

TEST_F(BackupRun, AnInstallationThatLostItsFilesKeepsTheBackupThatHoldsThem) {
  auto task = MakeTask();
  ASSERT_TRUE(Pack().RunTask(*task));
  const std::string full = ReadBytes(DefaultArchive());
  // As after a lost disk: the host and its registry branch are back, its files are not.
  for (const std::string& f : PackedFiles()) ASSERT_TRUE(DeleteFileA(HostFile(f).c_str())) << f;
  RemoveDirectoryA(HostFile("Inbound").c_str());
  {
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    const std::string text = w.Seen()[0].text;
    for (const std::string& part : {std::string("Die Sicherung ist unvollständig."),
                                    std::string("keine Datei gefunden"), Incomplete(), DefaultArchive()})
      EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
  EXPECT_EQ(ReadBytes(DefaultArchive()), full);
  EXPECT_EQ(vk::testing::ArchiveNames(Incomplete()), std::vector<std::string>{"kestrone.reg"});

  // Without a backup of files to lose, the registry data alone are the backup.
  ASSERT_TRUE(DeleteFileA(DefaultArchive().c_str()));
  EXPECT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(vk::testing::ArchiveNames(DefaultArchive()), std::vector<std::string>{"kestrone.reg"});
  EXPECT_FALSE(IsFile(Incomplete()));
}

uint64_t FrozenClock() { return 0; }

TEST_F(BackupRun, WindowDrawsAtItsPaceAndEndsOnTheLastFile) {
  auto task = MakeTask();
  auto original = Pack().ZipArchiver1.OnProgress;
  std::vector<std::string> started, shown;
  Pack().ZipArchiver1.OnProgress = [&](ProgressType t, const std::string& name, int size) {
    // A beat while the folders are still read comes before the first file, as it
    // may when reading them takes long; it draws nothing.
    if (t == ProgressType::ptFileStart && started.empty()) original(ProgressType::ptFileStep, " ", 0);
    original(t, name, size);
    if (t == ProgressType::ptFileStart) {
      started.push_back(vk::SlashToBackslash(name));
      shown.push_back(Pack().PathLabel1.Caption());
    }
  };
  // A drawing interval passes at every event: every file is drawn as it begins.
  EXPECT_TRUE(Pack().RunTask(*task));
  ASSERT_GE(started.size(), 3u);
  EXPECT_EQ(shown, started);
  // Time stands still: the first file is drawn and then nothing until the end,
  // which names the last file.
  started.clear();
  shown.clear();
  vk::backup::TRunForm::SetClockForTesting(FrozenClock);
  EXPECT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(shown, std::vector<std::string>(started.size(), started.front()));
  EXPECT_EQ(Pack().PathLabel1.Caption(), started.back());
  Pack().ZipArchiver1.OnProgress = original;
}

uint64_t PumpPaceClock() {
  static uint64_t now = 0;
  return now += vk::PaintPace::kPumpIntervalMs;
}

TEST_F(BackupRun, ACancelIsSeenAtThePaceOfMessagesNotOfDrawing) {
  // Each event comes one message interval after the last: the window draws only every
  // few events, but a press waiting as the second file begins is seen there.
  auto task = MakeTask();
  vk::backup::TRunForm::SetClockForTesting(PumpPaceClock);
  CancelAtFile cancel(Pack(), 2, /*escape=*/false);
  Watcher w({{"Bestätigen", IDYES}});
  EXPECT_FALSE(Pack().RunTask(*task));
  ASSERT_TRUE(w.Done());
  EXPECT_EQ(cancel.Starts(), 2);
}

TEST_F(BackupRun, FailuresAreReportedAndLeaveThePreviousArchive) {
  const std::string previous = PreviousArchive();
  auto task = MakeTask();
  auto ExpectPreviousKept = [&] {
    EXPECT_EQ(ReadBytes(DefaultArchive()), previous);
    EXPECT_TRUE(Leftovers(Host() + "\\Backup", "KestroneBackup.zip").empty());
  };
  {
    // The previous archive is held open by someone else: it cannot be replaced.
    HANDLE held = CreateFileA(DefaultArchive().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    CloseHandle(held);
    EXPECT_NE(w.Seen()[0].text.find("konnte nicht ersetzt werden"), std::string::npos) << w.Seen()[0].text;
  }
  ExpectPreviousKept();
  {
    // The disk is full: the failure is the chosen archive's, in the system's words,
    // not a file's, and the work file is not named.
    vk::testing::SetEngineFault("VKZIP.DLL", vk::engine::kDiskFullInData);
    Watcher w({{"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    const std::string& text = w.Seen()[0].text;
    std::string cause = vk::testing::SystemText(ERROR_DISK_FULL);
    while (!cause.empty() && cause.back() == '.') cause.pop_back();
    EXPECT_NE(text.find("Das ZIP-Archiv \"" + DefaultArchive() + "\" konnte nicht geschrieben werden: " + cause +
                        "; die vorherige Sicherung bleibt unverändert."),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find(".vknew"), std::string::npos) << text;
    EXPECT_EQ(text.find("konnte nicht gesichert werden"), std::string::npos) << text;
  }
  vk::testing::SetEngineFault("VKZIP.DLL", vk::engine::kNoFault);  // should the run not have met it
  ExpectPreviousKept();
  {
    // A fault inside the engine: its box, then the run's report; the work files go.
    vk::testing::SetEngineFault("VKZIP.DLL", vk::engine::kAccessViolation);
    Watcher w({{vk::win::App().Title()}, {"Fehler"}});
    EXPECT_FALSE(Pack().RunTask(*task));
    ASSERT_TRUE(w.Done());
    EXPECT_EQ(w.Seen()[0].text, "Fatal DLL Error: abort exception");
    EXPECT_NE(w.Seen()[1].text.find("die vorherige Sicherung bleibt unverändert."), std::string::npos)
        << w.Seen()[1].text;
  }
  ExpectPreviousKept();

  // A run without problems afterwards replaces it, and shows nothing.
  EXPECT_TRUE(Pack().RunTask(*task));
  EXPECT_EQ(Sorted(vk::testing::ArchiveNames(DefaultArchive())), Sorted(ExpectedNames()));
}

TEST_F(BackupRun, NoHostInstallationEndsBeforeAnything) {
  auto task = MakeTask();
  RegDeleteKeyValueA(HKEY_CURRENT_USER, vk::testing::kBranchKey, "ProgDir");
  vk::tasks::ResetRememberedHostDirForTesting();
  Watcher w({{vk::testing::kFolderBrowser, IDCANCEL}, {"Fehler"}});
  EXPECT_FALSE(Pack().RunTask(*task));
  ASSERT_TRUE(w.Done());
  EXPECT_EQ(w.Seen()[1].text, "Konnte keine Kestrone 95 Installation finden.");
  EXPECT_EQ(task->LastBackup, 0);
  EXPECT_FALSE(IsFile(DefaultArchive()));
  EXPECT_FALSE(Pack().Visible());
}

}  // namespace

