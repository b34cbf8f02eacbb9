// The restore run from end to end under Wine: a backup written by the backup run is
// extracted into the host directory and its registry file imported by the real REGEDIT.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "backup/registry_copy.h"
#include "core/errors.h"
#include "engine_faults.h"
#include "core/restore_texts.h"
#include "run_fixture.h"
#include "win/handles.h"
#include "zipengine/common/win_fs.h"

namespace {

using vk::testing::Answer;
using vk::testing::CancelAtFile;
using vk::testing::IsFile;
using vk::testing::ReadBytes;
using vk::testing::Watcher;
using vk::testing::WriteBytes;
using vk::testing::WriteOld;

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

  WriteOld(HostFile("Filebase\\liste.txt"), "verändert");
  DeleteFileA(HostFile("Inbound\\a.pkt").c_str());
  WriteOld(HostFile("Filebase\\bin.dat"), "kurz");
  WriteBytes(HostFile("Filebase\\Archiv\\alt.txt"), "nicht im Archiv, bleibt so");
  WriteBytes(HostFile("Filebase\\neu.txt"), "neu");
  vk::testing::SetString(kBranch, "Sprache", "Englisch");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, (kBranch + "\\Fenster").c_str(), "Links");
  vk::testing::SetDword(kBranch, "Zahl", 7);

  auto seen = Restore(DefaultArchive(), {{"Information"}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0].fileBox.find("KestroneBackup.zip"), std::string::npos) << seen[0].fileBox;
  // Written: liste.txt, a.pkt, bin.dat and kestrone.reg; the rest was right.
  EXPECT_NE(seen[1].text.find("4 Dateien wurden geschrieben"), std::string::npos) << seen[1].text;

  auto after = vk::testing::FilesBelow(Host());
  for (const auto& [rel, bytes] : files) {
    if (rel == "Filebase\\Archiv\\alt.txt") continue;
    EXPECT_EQ(after[rel], bytes) << rel;
  }
  EXPECT_EQ(after["Filebase\\Archiv\\alt.txt"], "nicht im Archiv, bleibt so");
  EXPECT_EQ(after["Filebase\\neu.txt"], "neu");
  // The registry file stays in the host directory.
  EXPECT_TRUE(IsFile(HostFile("kestrone.reg")));
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
  EXPECT_FALSE(IsFile(Host() + "\\..\\ausserhalb.txt"));
  EXPECT_EQ(ReadBytes(HostFile("Inbound\\ok.pkt")), "ok");
}

TEST_F(RestoreRun, CancelKeepsTheArchiveAndAsksAboutTheRegistry) {
  // "kestrone.reg" comes first, so by the fourth file announced (the undo copy announces
  // two before the extraction) it is out, and the import after the cancel can bring it.
  vk::testing::ZipBuilder b;
  b.AddStored("kestrone.reg", MarkingRegFile());
  for (int i = 0; i < 8; ++i) b.AddStored("Inbound/neu" + std::to_string(i) + ".pkt", "paket");
  const std::string archive = b.Finish();
  const std::string file = Work("frueh.zip");
  WriteBytes(file, archive);
  {
    CancelAtFile cancel(Extract(), 4, /*escape=*/false);
    auto seen = Restore(file, {{"Bestätigen", IDNO}});
    ASSERT_EQ(seen.size(), 2u);
    for (const std::string& part : {std::string("Das Zurückschreiben wurde abgebrochen."), file,
                                    std::string("bleibt erhalten"), std::string("trotzdem importiert")})
      EXPECT_NE(seen[1].text.find(part), std::string::npos) << part << "\n" << seen[1].text;
  }
  EXPECT_EQ(ReadBytes(file), archive);
  EXPECT_FALSE(Marked());
  EXPECT_FALSE(Extract().ArrowVisible(3));

  {
    CancelAtFile cancel(Extract(), 4, /*escape=*/true);
    Restore(file, {{"Bestätigen", IDYES}});
  }
  EXPECT_EQ(ReadBytes(file), archive);
  EXPECT_TRUE(Marked());
  EXPECT_TRUE(Extract().HookVisible(3));
}

TEST_F(RestoreRun, CancelStopsWritingAtOnce) {
  vk::testing::ZipBuilder b;
  for (int i = 0; i < 300; ++i) b.AddStored("Viele/" + std::to_string(1000 + i) + ".txt", "Datei " + std::to_string(i));
  const std::string bytes = b.Finish();
  WriteBytes(Work("viele.zip"), bytes);
  {
    CancelAtFile cancel(Extract(), 5, /*escape=*/false);
    auto seen = Restore(Work("viele.zip"), {{"Information"}});
    ASSERT_EQ(seen.size(), 2u);
  }
  // Files 1 to 4 are complete; the fifth, announced when the cancel came, only if
  // it was; nothing that was not announced.
  const auto written = vk::testing::FilesBelow(HostFile("Viele"));
  EXPECT_GE(written.size(), 4u);
  EXPECT_LE(written.size(), 5u);
  for (const auto& [name, data] : written)
    EXPECT_EQ(data, "Datei " + std::to_string(std::stoi(name) - 1000)) << name;
  EXPECT_EQ(ReadBytes(Work("viele.zip")), bytes);
}

// A press that the window sees before the first file is written (here as the window
// appears; the same holds between the undo copy's last report and the extraction)
// stops the restore with nothing changed, and the last restore's undo copy stays.
TEST_F(RestoreRun, ACancelSeenBeforeTheFirstFileChangesNothing) {
  BackUp();
  const std::string undo = vk::backup::UndoCopyPath(Host());
  WriteBytes(undo, "vorige Kopie");
  WriteOld(HostFile("Filebase\\liste.txt"), "verändert");
  const auto before = vk::testing::FilesBelow(Host());
  PostMessageA(Extract().Item(IDCANCEL), BM_CLICK, 0, 0);
  const auto seen = Restore(DefaultArchive(), {{"Information"}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].text.find("abgebrochen, bevor eine Datei verändert wurde"), std::string::npos) << seen[1].text;
  EXPECT_TRUE(vk::testing::FilesBelow(Host()) == before);

  // The next restore is not stopped by it.
  Restore(DefaultArchive(), {{"Information"}});
  EXPECT_EQ(ReadBytes(HostFile("Filebase\\liste.txt")), "Dateiliste\r\n");
}

// While the comparison of the whole installation runs beside it, the window answers:
// a press of "Abbrechen" reaches the work, which waits for nothing else; and what
// goes wrong in the work reaches the run.
TEST_F(RestoreRun, TheWindowAnswersWhileTheWorkBesideItRuns) {
  Extract().Canceled = false;
  PostMessageA(Extract().Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(Extract().Item(IDCANCEL)));
  bool reached = false;
  Extract().WhileAnswering([&](const std::atomic<bool>& stop) {
    for (int waited = 0; waited < 10000 && !stop; waited += 10) Sleep(10);
    reached = stop;
  });
  EXPECT_TRUE(reached);
  EXPECT_THROW(Extract().WhileAnswering([](const std::atomic<bool>&) { throw vk::EZipDirError("kaputt"); }),
               vk::EZipDirError);
}

TEST_F(RestoreRun, LeftoversOfAKilledRestoreAreRemoved) {
  BackUp();
  auto expected = vk::testing::FilesBelow(Host());
  expected.erase("Backup\\KestroneBackup.zip");
  // What a restore killed half-way leaves: its mark, temporary files beside the
  // files it was replacing, and a file cut short. A file of someone else's stays.
  WriteBytes(HostFile("~vkunzip.run"), "");
  WriteBytes(HostFile("Filebase\\~vk0000ABCD00000001.tmp"), "halb");
  WriteBytes(HostFile("~vk0000ABCD0000002F.tmp"), "halb");
  WriteBytes(HostFile("Filebase\\~vkFremd.tmp"), "fremd");
  WriteOld(HostFile("MsgBase\\msg.dat"), "abgeschnitten");
  Restore(DefaultArchive(), {{"Information"}});
  auto after = vk::testing::FilesBelow(Host());
  after.erase("Backup\\KestroneBackup.zip");
  after.erase(vk::kUndoCopyName);
  after.erase("kestrone.reg");
  EXPECT_EQ(after["Filebase\\~vkFremd.tmp"], "fremd");
  after.erase("Filebase\\~vkFremd.tmp");
  EXPECT_EQ(after, expected);
}

// A file whose size, last-write and change time are those the backup recorded is
// trusted unread, so the archive's differing bytes do not replace it here; a change
// behind a last-write time set back moves the change time, and that file is read
// and restored. A file right but for its time takes the entry's time only.
TEST_F(RestoreRun, TheRecordedStampIsTrustedWhileTheChangeTimeHolds) {
  vk::testing::ZipBuilder b;
  const FILETIME entryTime = vk::engine::DosToFileTime({0x6000, 0x5421});  // the builder's entries' time
  auto stamp = [&](const std::string& rel, const std::string& onDisk) {
    WriteBytes(HostFile(rel), onDisk);
    vk::win::ScopedHandle h(CreateFileA(HostFile(rel).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    EXPECT_TRUE(SetFileTime(h.Get(), nullptr, nullptr, &entryTime));
    h.Reset();
    vk::engine::FileFacts facts;
    EXPECT_TRUE(vk::engine::QueryFile(vk::engine::AnsiToWide(HostFile(rel)), &facts));
    return vk::zip::FileStamp{vk::engine::FileTimeTicks(facts.modified), facts.changed};
  };
  b.AddStored("Filebase/vertraut.txt", "Inhalt X").stamp = stamp("Filebase\\vertraut.txt", "Inhalt A");
  const vk::zip::FileStamp recorded = stamp("Filebase\\zurueck.txt", "Inhalt B");
  b.AddStored("Filebase/zurueck.txt", "Inhalt B").stamp = recorded;
  b.AddStored("Filebase/zeit.txt", "Inhalt D");
  WriteOld(HostFile("Filebase\\zeit.txt"), "Inhalt D");
  // The archive keeps times to two seconds: one second after the entry's is its time.
  b.AddStored("Filebase/genau.txt", "Inhalt E");
  stamp("Filebase\\genau.txt", "Inhalt E");
  const uint64_t later = vk::engine::FileTimeTicks(entryTime) + 10000000;
  const FILETIME aSecondLater{static_cast<DWORD>(later), static_cast<DWORD>(later >> 32)};
  {
    vk::win::ScopedHandle h(CreateFileA(HostFile("Filebase\\genau.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(SetFileTime(h.Get(), nullptr, nullptr, &aSecondLater));
  }
  WriteBytes(Work("stempel.zip"), b.Finish());
  Sleep(20);  // past the file system clock's tick, so the change below moves the change time
  const std::string changed = HostFile("Filebase\\zurueck.txt");
  EXPECT_EQ(stamp("Filebase\\zurueck.txt", "Inhalt C").written, recorded.written);
  vk::engine::FileFacts facts;
  ASSERT_TRUE(vk::engine::QueryFile(vk::engine::AnsiToWide(changed), &facts));
  ASSERT_NE(facts.changed, recorded.changed);

  auto seen = Restore(Work("stempel.zip"), {{"Information"}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].text.find("1 Datei wurde geschrieben, 3 Dateien waren bereits richtig"), std::string::npos)
      << seen[1].text;
  EXPECT_EQ(ReadBytes(HostFile("Filebase\\vertraut.txt")), "Inhalt A");
  EXPECT_EQ(ReadBytes(changed), "Inhalt B");
  EXPECT_EQ(ReadBytes(HostFile("Filebase\\zeit.txt")), "Inhalt D");
  ASSERT_TRUE(vk::engine::QueryFile(vk::engine::AnsiToWide(HostFile("Filebase\\zeit.txt")), &facts));
  EXPECT_EQ(vk::engine::FileTimeTicks(facts.modified), vk::engine::FileTimeTicks(entryTime));
  ASSERT_TRUE(vk::engine::QueryFile(vk::engine::AnsiToWide(HostFile("Filebase\\genau.txt")), &facts));
  EXPECT_EQ(vk::engine::FileTimeTicks(facts.modified), vk::engine::FileTimeTicks(aSecondLater));
}

TEST_F(RestoreRun, AFaultInTheEngineIsReportedAndCostsNoFile) {
  BackUp();
  const auto before = vk::testing::FilesBelow(Host());
  vk::testing::SetEngineFault("VKUNZIP.DLL", vk::engine::kWorkerAccessViolation);
  auto seen = Restore(DefaultArchive(), {{vk::win::App().Title()}, {"Fehler"}});
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].text, "Fatal DLL Error: abort exception");
  EXPECT_NE(seen[2].text.find("konnte nicht vollständig gelesen werden"), std::string::npos) << seen[2].text;
  // Over the intact installation every file is as it was, and no temporary one stays.
  // The undo copy written before the extraction is the one new file.
  auto after = vk::testing::FilesBelow(Host());
  after.erase("kestrone.reg");
  EXPECT_EQ(after.erase(vk::kUndoCopyName), 1u);
  EXPECT_EQ(after, before);
}

TEST_F(RestoreRun, RegExeStandsInWhenRegeditNeedsElevation) {
  vk::backup::TRunForm::SetRegeditNeedsElevationForTesting(true);
  BackUp();
  const auto registry = vk::testing::Snapshot();
  vk::testing::SetString(kBranch, "Sprache", "Englisch");
  vk::testing::SetValue(kBranch, "Binaer", REG_BINARY, "x");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, (kBranch + "\\Fenster").c_str(), "Titel");
  EXPECT_EQ(Restore(DefaultArchive(), {{"Information"}}).size(), 2u);
  EXPECT_EQ(vk::testing::Snapshot(), registry);
}

TEST_F(RestoreRun, NamesBeyondTheCodePageComeBackUnderTheirNames) {
  const std::wstring unicode = L"Ωmega-日本.txt";
  const std::string host = Host();
  auto path = [&](const std::wstring& name) {
    return std::wstring(host.begin(), host.end()) + L"\\Filebase\\" + name;
  };
  auto write = [](const std::wstring& file, const std::string& data) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(h);
  };
  auto read = [](const std::wstring& file) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string("(fehlt)");
    char buffer[256];
    DWORD n = 0;
    ReadFile(h, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(h);
    return std::string(buffer, n);
  };
  write(path(unicode), "Unicode");
  // What the name's ANSI form "Omega-??.txt" would match as a pattern.
  write(path(L"Omega-ab.txt"), "Köder");
  // Brackets and blanks are no pattern: the restore names this file as it is.
  const std::wstring bracketed = L"Liste [alt] 1.txt";
  write(path(bracketed), "Klammern");
  BackUp();

  std::string utf8(64, '\0');
  utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, (L"Filebase/" + unicode).c_str(), -1,
                                                      utf8.data(), 64, nullptr, nullptr) - 1));
  const std::string bytes = ReadBytes(DefaultArchive());
  vk::zip::MemoryAccess access(bytes);
  int unicodeEntries = 0, decoys = 0;
  for (const vk::zip::Entry& e : vk::zip::ReadDirectory(access).entries) {
    if (e.name == utf8 && (e.flags & vk::zip::kFlagUtf8)) ++unicodeEntries;
    if (e.name == "Filebase/Omega-ab.txt") ++decoys;
  }
  EXPECT_EQ(unicodeEntries, 1);
  EXPECT_EQ(decoys, 1);

  // Replaced, so that the name goes to the engine marked as found different, in UTF-8.
  write(path(unicode), "verändert");
  vk::testing::MakeOld(path(unicode));
  DeleteFileW(path(bracketed).c_str());
  write(path(L"Omega-ab.txt"), "verändert");
  vk::testing::MakeOld(HostFile("Filebase\\Omega-ab.txt"));
  EXPECT_EQ(Restore(DefaultArchive(), {{"Information"}}).size(), 2u);
  EXPECT_EQ(read(path(unicode)), "Unicode");
  EXPECT_EQ(read(path(L"Omega-ab.txt")), "Köder");
  EXPECT_EQ(read(path(bracketed)), "Klammern");
}

TEST_F(RestoreRun, OlderRegistryFileIsImportedWhenTheArchiveHasNone) {
  vk::testing::ZipBuilder b;
  b.AddStored("Inbound/neu.pkt", "paket");
  WriteBytes(Work("ohne.zip"), b.Finish());
  WriteBytes(HostFile("kestrone.reg"), MarkingRegFile());
  EXPECT_EQ(Restore(Work("ohne.zip"), {{"Information"}}).size(), 2u);
  EXPECT_TRUE(Marked());
  EXPECT_EQ(ReadBytes(HostFile("Inbound\\neu.pkt")), "paket");
}

// The undo copy's registry file is written by the program itself; REGEDIT must bring
// back every kind of value from it, and a branch that was not there must go again.
TEST_F(RestoreRun, TheUndoCopysRegistryFileImportsBackWhatWasThere) {
  using vk::testing::SetValue;
  const std::string file = HostFile("undo.reg");
  const std::string longBinary(300, '\x5A');
  SetValue(kBranch, "", REG_SZ, std::string("Standard\0", 9));
  SetValue(kBranch, "Pfad \"C:\\Kestrone\"", REG_SZ, std::string("C:\\Kestrone \"95\"\0", 18));
  SetValue(kBranch, "Zeilen", REG_SZ, std::string("eins\r\nzwei\0", 11));
  SetValue(kBranch + "\\Fenster", "Umgebung", REG_EXPAND_SZ, std::string("%\0T\0E\0M\0P\0%\0\0\0", 14));
  SetValue(kBranch + "\\Fenster", "Liste", REG_MULTI_SZ, std::string("a\0b\0\0\0", 6));
  SetValue(kBranch + "\\Fenster\\Tief", "Bytes", REG_BINARY, longBinary);
  SetValue(kBranch + "\\Fenster\\Tief", "Leer", REG_BINARY, "");
  SetValue(kBranch, "Groß", REG_QWORD, std::string("\1\2\3\4\5\6\7\x08", 8));
  vk::testing::SetDword(kBranch, "Zahl", 0xFEDCBA98);
  HKEY empty;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (kBranch + "\\Ohne Werte").c_str(), &empty), ERROR_SUCCESS);
  RegCloseKey(empty);
  const auto before = vk::testing::Snapshot();

  std::string why;
  ASSERT_TRUE(vk::backup::WriteRegistryCopy(file, vk::backup::kHostBranch, &why)) << why;
  RegDeleteTreeA(HKEY_CURRENT_USER, kBranch.c_str());
  vk::testing::SetString(kBranch, "Fremd", "danach");
  ASSERT_EQ(Extract().ImportRegistry(file), 0);
  auto after = vk::testing::Snapshot();
  after.erase("|Fremd");  // an import adds and replaces; it removes nothing
  EXPECT_EQ(after, before);

  RegDeleteTreeA(HKEY_CURRENT_USER, kBranch.c_str());
  ASSERT_TRUE(vk::backup::WriteRegistryCopy(file, vk::backup::kHostBranch, &why)) << why;
  vk::testing::SetString(kBranch, "Fremd", "danach");
  ASSERT_EQ(Extract().ImportRegistry(file), 0);
  EXPECT_FALSE(vk::testing::KeyExists(kBranch));
  DeleteFileA(file.c_str());
}

// A new machine: nothing of the installation and no branch. The undo copy then holds
// only what deletes the branch again, and the restore must not stop for it.
TEST_F(RestoreRun, ANewMachineWithoutTheBranchGetsFilesAndRegistryBack) {
  BackUp();
  const auto files = vk::testing::FilesBelow(Host());
  const auto registry = vk::testing::Snapshot();
  for (const auto& [rel, bytes] : files)
    if (rel.rfind("Backup\\", 0) != 0) DeleteFileA(HostFile(rel).c_str());
  RegDeleteTreeA(HKEY_CURRENT_USER, kBranch.c_str());
  auto seen = Restore(DefaultArchive(), {{"Information"}});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(IsFile(vk::backup::UndoCopyPath(Host())));
  auto after = vk::testing::FilesBelow(Host());
  for (const auto& [rel, bytes] : files) {
    if (rel.rfind("Filebase\\Archiv\\", 0) != 0) {  // the task leaves that folder out
      EXPECT_EQ(after[rel], bytes) << rel;
    }
  }
  EXPECT_EQ(vk::testing::Snapshot(), registry);
}

TEST_F(RestoreRun, UndoCopyThatCannotBeWrittenStopsBeforeAnything) {
  BackUp();
  const std::string undo = vk::backup::UndoCopyPath(Host());
  struct Case {
    const char* what;
    std::function<HANDLE()> block;  // returns a handle to close afterwards, or none
  } cases[] = {
      {"a folder at its name", [&] { CreateDirectoryA(undo.c_str(), nullptr); return HANDLE(nullptr); }},
      {"the previous copy held open", [&] {
         WriteBytes(undo, "alt");
         return CreateFileA(undo.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
       }},
  };
  for (const Case& c : cases) {
    WriteOld(HostFile("Filebase\\liste.txt"), "verändert");
    vk::testing::SetString(kBranch, "Sprache", "Englisch");
    vk::win::ScopedHandle held(c.block());
    const auto files = vk::testing::FilesBelow(Host());
    const auto registry = vk::testing::Snapshot();
    auto seen = Restore(DefaultArchive(), {{"Fehler"}});
    held = vk::win::ScopedHandle();
    ASSERT_EQ(seen.size(), 2u) << c.what;
    EXPECT_NE(seen[1].text.find("es wurde nichts verändert"), std::string::npos) << c.what << "\n" << seen[1].text;
    EXPECT_EQ(vk::testing::FilesBelow(Host()), files) << c.what;
    EXPECT_EQ(vk::testing::Snapshot(), registry) << c.what;
    RemoveDirectoryA(undo.c_str());
    DeleteFileA(undo.c_str());
  }
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

TEST_F(RestoreRun, AFileHeldByTheRunningHostStopsTheRestoreBeforeAnythingChanges) {
  BackUp();
  WriteOld(HostFile("Filebase\\liste.txt"), "verändert");
  WriteOld(HostFile("MsgBase\\msg.dat"), "verändert");
  const auto before = vk::testing::FilesBelow(Host());
  vk::testing::OtherProcessHolds holder(HostFile("Filebase\\liste.txt"));
  ASSERT_EQ(holder.Answer(), "ok");
  const auto seen = Restore(DefaultArchive(), {{"Fehler"}});
  EXPECT_EQ(holder.Release(), "ok");
  ASSERT_EQ(seen.size(), 2u);
  for (const char* part : {"Filebase\\liste.txt", "nicht begonnen; es wurde nichts verändert"})
    EXPECT_NE(seen[1].text.find(part), std::string::npos) << part << "\n" << seen[1].text;
  EXPECT_TRUE(vk::testing::FilesBelow(Host()) == before);
}

}  // namespace
