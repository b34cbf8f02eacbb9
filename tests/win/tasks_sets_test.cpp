#include "tasks/sets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/comma_list.h"
#include "core/errors.h"
#include "tasks/hostdir.h"
#include "tasks_test_util.h"

namespace vk::tasks {
namespace {

using tasktest::ErrorBoxes;
using tasktest::IsFile;
using tasktest::ProgDirValue;
using tasktest::ReadBytes;
using tasktest::SavedRegValue;
using tasktest::TempDir;
using tasktest::WriteBytes;

const char kDefaultTaskText[] =
    "Name=,Active=1,\"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase\",UseDefZipName=0,"
    "DefZipName=C:\\Kestrone\\Backup\\KestroneBackup.zip,AutoMode=1,AutoDays=7,LastBackup=0,"
    "SaveRegistry=1,SaveFiles=1";

class TasksStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRememberedHostDirForTesting();
    progDir.SetString("C:\\Kestrone");
    SetDecimal(".");
    SetTaskRunner([this](TSet& set) {
      ran.push_back(set.Name);
      if (onRun) onRun(set);
      return true;
    });
  }
  void TearDown() override {
    SetTaskRunner(nullptr);
    SetDecimal(originalDecimal);
    ResetRememberedHostDirForTesting();
  }

  // Through the system's own call, so that this process sees the change at once (the
  // registry value alone reaches only processes started afterwards).
  static void SetDecimal(const std::string& sep) {
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep.c_str());
  }
  static std::string CurrentDecimal() {
    char buf[8] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf);
    return buf;
  }

  ProgDirValue progDir;
  SavedRegValue decimal{"Control Panel\\International", "sDecimal"};
  std::string originalDecimal = CurrentDecimal();
  std::vector<std::string> ran;  // the names of the tasks the runner was given
  std::function<void(TSet&)> onRun;
};

std::vector<std::string> FileNamesOf(const TSets& sets) {
  std::vector<std::string> names;
  for (const auto& set : sets) names.push_back(set->FileName);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(TasksStore, AMissingOrEmptyFolderHoldsNoTasks) {
  TempDir missing("store", /*create=*/false);
  TempDir empty("store");
  for (const std::string& folder : {missing.Path(), empty.Path()}) {
    auto sets = std::make_unique<TSets>(folder);
    EXPECT_EQ(sets->Count(), 0);
    sets->RunDueTasks();
    sets.reset();
  }
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(GetFileAttributesA(missing.Path().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TasksStore, ANewTaskHasTheDefaultsAndIsWrittenWhenDestroyed) {
  TempDir dir("store");
  const std::string path = dir / "Vaultkin\\neu.set";
  {
    TSet set(path);
    EXPECT_FALSE(set.LoadFailed());
    EXPECT_EQ(set.FileName, path);
    EXPECT_EQ(set.Name, "");
    EXPECT_TRUE(set.Active);
    EXPECT_EQ(set.DefZipName, "C:\\Kestrone\\Backup\\KestroneBackup.zip");
    EXPECT_FALSE(IsFile(path));  // loading never writes
  }
  EXPECT_EQ(ReadBytes(path), kDefaultTaskText);
}

TEST_F(TasksStore, ListsHiddenSystemAndReadOnlyFilesButNoDirectories) {
  TempDir dir("store");
  for (const char* name : {"a.set", "hidden.set", "system.set", "ro.set", "UPPER.SET",
                           "notes.txt", "x.settings", "y.set.tmp"})
    WriteBytes(dir / name, "Name=x");
  SetFileAttributesA((dir / "hidden.set").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((dir / "system.set").c_str(), FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesA((dir / "ro.set").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA((dir / "folder.set").c_str(), nullptr);

  ErrorBoxes boxes;
  auto sets = std::make_unique<TSets>(dir.Path());
  EXPECT_EQ(FileNamesOf(*sets), (std::vector<std::string>{dir / "UPPER.SET", dir / "a.set",
                                                          dir / "hidden.set", dir / "ro.set",
                                                          dir / "system.set"}));
  sets.reset();

  // The read-only file cannot be rewritten: one message, and it keeps its text.
  EXPECT_EQ(boxes.Texts(),
            std::vector<std::string>{"Datei " + (dir / "ro.set") + " kann nicht erstellt werden"});
  EXPECT_EQ(ReadBytes(dir / "ro.set"), "Name=x");
  for (const char* name : {"a.set", "hidden.set", "system.set", "UPPER.SET"})
    EXPECT_EQ(ReadCommaList(ReadBytes(dir / name)).size(), 10u) << name;
  for (const char* name : {"notes.txt", "x.settings", "y.set.tmp"})
    EXPECT_EQ(ReadBytes(dir / name), "Name=x") << name;
  EXPECT_TRUE(GetFileAttributesA((dir / "hidden.set").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(TasksStore, AnUnloadableFileIsReportedNeverWrittenAndTheOthersLoad) {
  TempDir dir("store");
  WriteBytes(dir / "int.set", "Name=a,AutoDays=sieben,AutoMode=3");
  WriteBytes(dir / "float.set", "Name=b,AutoMode=3,LastBackup=gestern");
  WriteBytes(dir / "good.set", "Name=gut,AutoMode=3");
  ErrorBoxes boxes;
  auto sets = std::make_unique<TSets>(dir.Path());
  ASSERT_EQ(sets->Count(), 1);
  EXPECT_EQ((*sets)[0]->Name, "gut");
  std::vector<std::string> texts = boxes.Texts();
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"'gestern' ist kein gültiger Fließkommawert",
                                             "'sieben' ist kein gültiger Integerwert"}));
  sets->RunDueTasks();
  EXPECT_EQ(ran, std::vector<std::string>{"gut"});
  sets.reset();
  EXPECT_EQ(ReadBytes(dir / "int.set"), "Name=a,AutoDays=sieben,AutoMode=3");
  EXPECT_EQ(ReadBytes(dir / "float.set"), "Name=b,AutoMode=3,LastBackup=gestern");
  EXPECT_NE(ReadBytes(dir / "good.set").find("Name=gut,Active=1,"), std::string::npos);
  EXPECT_EQ(boxes.Texts().size(), 2u);  // nothing more at the end

  // Such a task, made by itself, neither runs nor saves when told to.
  {
    TSet set(dir / "int.set");
    EXPECT_TRUE(set.LoadFailed());
    set.RunIfDue();
    set.Save();
  }
  EXPECT_EQ(ran, std::vector<std::string>{"gut"});
  EXPECT_EQ(ReadBytes(dir / "int.set"), "Name=a,AutoDays=sieben,AutoMode=3");
}

TEST_F(TasksStore, EveryTaskIsRewrittenWithAllEntriesAtTheEnd) {
  TempDir dir("store");
  WriteBytes(dir / "nur.set", "Name=Nur");
  WriteBytes(dir / "zwei.set", "Name=Zwei,Active=2,\"DefZipName=\"\"D:\\a b.zip\"\"\"");
  {
    TSets sets(dir.Path());
    ASSERT_EQ(sets.Count(), 2);
    for (const auto& set : sets)
      if (set->Name == "Zwei") set->SaveFiles = false;  // a change made in a dialog
  }
  EXPECT_EQ(ReadBytes(dir / "nur.set"), std::string(kDefaultTaskText).replace(0, 5, "Name=Nur"));
  EXPECT_EQ(ReadBytes(dir / "zwei.set"),
            "Name=Zwei,Active=1,\"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase\","
            "UseDefZipName=0,\"DefZipName=D:\\a b.zip\",AutoMode=1,AutoDays=7,LastBackup=0,"
            "SaveRegistry=1,SaveFiles=0");
}

TEST_F(TasksStore, RunIfDueFollowsTheAutomaticModeAndAlwaysSaves) {
  TempDir dir("store");
  struct Case {
    const char* name;
    int32_t mode;
    double daysAgo;  // < 0: never backed up
    bool runs;
  };
  const Case cases[] = {
      {"nie", 1, -1, false},          {"jedesmal", 3, 0, true},
      {"faellig", 2, 7.0001, true},   {"nochnicht", 2, 6.9999, false},
      {"nieGesichert", 2, -1, true},  {"unbekannt", 5, -1, false},
  };
  for (const Case& c : cases) {
    ran.clear();
    const std::string path = dir / (std::string(c.name) + ".set");
    TSet set(path);
    set.Name = c.name;
    set.Active = false;  // not looked at here
    set.AutoMode = c.mode;
    set.AutoDays = 7;
    set.LastBackup = c.daysAgo < 0 ? 0 : Now() - c.daysAgo;
    set.RunIfDue();
    EXPECT_EQ(ran.size(), c.runs ? 1u : 0u) << c.name;
    EXPECT_NE(ReadBytes(path).find(std::string("Name=") + c.name + ","), std::string::npos) << c.name;
    set.Discard();
  }
  // With no runner installed nothing runs, and the task is saved all the same.
  SetTaskRunner(nullptr);
  TSet set(dir / "ohne.set");
  set.AutoMode = 3;
  set.RunIfDue();
  EXPECT_TRUE(IsFile(dir / "ohne.set"));
  set.Discard();
}

TEST_F(TasksStore, ATaskIsSavedEvenWhenItsRunFails) {
  TempDir dir("store");
  const std::string path = dir / "t.set";
  onRun = [](TSet& set) {
    set.LastBackup = 40000.5;  // the run records its start, then fails
    throw Exception("Sicherung abgebrochen");
  };
  TSet set(path);
  set.AutoMode = 3;
  try {
    set.RunIfDue();
    ADD_FAILURE() << "the run's error went missing";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Sicherung abgebrochen");
  }
  EXPECT_NE(ReadBytes(path).find(",LastBackup=40000.5,"), std::string::npos);
  set.Discard();
}

TEST_F(TasksStore, RunDueTasksRunsActiveTasksOneAfterTheOther) {
  TempDir dir("store");
  WriteBytes(dir / "a.set", "Name=a,AutoMode=3");
  WriteBytes(dir / "b.set", "Name=b,AutoMode=3,Active=0");
  WriteBytes(dir / "c.set", "Name=c,AutoMode=1");
  WriteBytes(dir / "d.set", "Name=d,AutoMode=3");
  ErrorBoxes boxes;
  TSets sets(dir.Path());
  ASSERT_EQ(sets.Count(), 4);
  std::vector<std::string> expected;
  for (const auto& set : sets)
    if (set->Name == "a" || set->Name == "d") expected.push_back(set->Name);
  // One failing run is shown; the next task still gets its turn.
  onRun = [](TSet& set) {
    if (set.Name == "a") throw Exception("a ging schief");
  };
  sets.RunDueTasks();
  EXPECT_EQ(ran, expected);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"a ging schief"});
}

TEST_F(TasksStore, AddRemoveAndDiscard) {
  TempDir dir("store");
  const std::string path = dir / "neu.set";
  auto sets = std::make_unique<TSets>(dir.Path());
  auto set = std::make_unique<TSet>(path);
  TSet* raw = set.get();
  sets->Add(std::move(set));
  EXPECT_EQ(sets->IndexOf(raw), 0);
  Discard(sets->Remove(raw));
  EXPECT_EQ(sets->Count(), 0);
  EXPECT_EQ(sets->Remove(raw), nullptr);
  sets.reset();
  EXPECT_FALSE(IsFile(path));  // a discarded task leaves no file
}

TEST_F(TasksStore, LastBackupIsWrittenWithTheRegionalSeparatorAndReadWithEither) {
  TempDir dir("store");
  const std::string path = dir / "t.set";
  SetDecimal(",");
  ASSERT_EQ(DecimalSeparator(), ',') << "the regional setting is not seen in this process";
  LocalTime t;
  t.year = 1998, t.month = 6, t.day = 21, t.hour = 14, t.minute = 37, t.second = 12;
  {
    TSet set(path);
    set.LastBackup = EncodeDateTime(t);
  }
  const std::string text = ReadBytes(path);
  EXPECT_NE(text.find(",\"LastBackup=35967,6091666667\","), std::string::npos) << text;
  {
    TSet set(path);
    EXPECT_NEAR(set.LastBackup, EncodeDateTime(t), 1e-9);
  }
  // The regional setting changes: the task still loads, and is written anew with a point.
  SetDecimal(".");
  ASSERT_EQ(DecimalSeparator(), '.');
  ErrorBoxes boxes;
  {
    TSet set(path);
    EXPECT_FALSE(set.LoadFailed());
    EXPECT_NEAR(set.LastBackup, EncodeDateTime(t), 1e-9);
  }
  EXPECT_TRUE(boxes.Texts().empty());
  EXPECT_NE(ReadBytes(path).find(",LastBackup=35967.6091666667,"), std::string::npos) << ReadBytes(path);
}

}  // namespace
}  // namespace vk::tasks
