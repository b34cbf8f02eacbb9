#include "tasks/config.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/errors.h"
#include "tasks/hostdir.h"
#include "tasks_test_util.h"
#include "win/handles.h"

namespace vk::tasks {
namespace {

using tasktest::ErrorBoxes;
using tasktest::IsFile;
using tasktest::ReadAll;
using tasktest::ScratchDir;
using tasktest::WriteAll;

// A TConfig of the file kind whose text lives in `stored`.
struct FileConfig {
  explicit FileConfig(const std::string& path) : config(std::make_unique<TConfig>(path)) {
    config->OnSave = [this](std::string& text) { text = stored; };
    config->OnLoad = [this](const std::string& text) {
      loaded = text;
      ++loads;
    };
  }
  std::string stored;
  std::string loaded;
  int loads = 0;
  std::unique_ptr<TConfig> config;  // last: its final save reads `stored`
};

template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

TEST(TasksConfigFile, LoadOfAMissingFileGivesEmptyTextAndCreatesNothing) {
  ScratchDir dir("cfg");
  const std::string path = dir / "sub\\deeper\\t.set";
  FileConfig c(path);
  c.loaded = "stale";
  c.config->Load();
  EXPECT_EQ(c.loads, 1);
  EXPECT_EQ(c.loaded, "");
  EXPECT_FALSE(DirExists(dir / "sub"));
  c.config->Kind = TConfig::kNowhere;  // no final save either
}

TEST(TasksConfigFile, SaveCreatesParentsAndWritesExactlyTheBytes) {
  ScratchDir dir("cfg");
  const std::string path = dir / "a\\b\\c\\t.set";
  FileConfig c(path);
  c.stored = std::string("Name=Größe,\"x y\"\0tail", 22);
  c.config->Save();
  EXPECT_EQ(ReadAll(path), c.stored);  // no BOM, no line break, NUL kept
  EXPECT_FALSE(IsFile(path + ".tmp"));

  c.config->Load();
  EXPECT_EQ(c.loaded, c.stored);

  // A shorter text replaces the longer one completely; an empty one leaves an empty file.
  c.stored = "kurz";
  c.config->Save();
  EXPECT_EQ(ReadAll(path), "kurz");
  c.stored.clear();
  c.config->Save();
  EXPECT_TRUE(IsFile(path));
  EXPECT_EQ(ReadAll(path), "");
}

TEST(TasksConfigFile, WithoutHandlers) {
  ScratchDir dir("cfg");
  const std::string path = dir / "t.set";
  WriteAll(path, "alt");
  {
    TConfig config(path);
    config.Load();  // no OnLoad: nothing happens
    EXPECT_EQ(ReadAll(path), "alt");
    config.Save();  // no OnSave: an empty text is stored
    EXPECT_EQ(ReadAll(path), "");
    WriteAll(path, "neu");
  }
  EXPECT_EQ(ReadAll(path), "");  // and once more on destruction
}

TEST(TasksConfigFile, DestructionSavesOnceMore) {
  ScratchDir dir("cfg");
  const std::string path = dir / "t.set";
  {
    FileConfig c(path);
    c.stored = "am Ende";
    EXPECT_FALSE(IsFile(path));
  }
  EXPECT_EQ(ReadAll(path), "am Ende");
}

TEST(TasksConfigFile, ErrorsNameTheFile) {
  ScratchDir dir("cfg");
  FileConfig noDir("t.set");
  EXPECT_EQ(MessageOf<EInOutError>([&] { noDir.config->Save(); }),
            "Das Verzeichnis kann nicht erstellt werden");
  noDir.config->Kind = TConfig::kNowhere;

  // A file held open without sharing cannot be read.
  const std::string locked = dir / "locked.set";
  WriteAll(locked, "x");
  {
    win::ScopedHandle hold(CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hold);
    FileConfig c(locked);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { c.config->Load(); }),
              "Datei " + locked + " kann nicht geöffnet werden");
    EXPECT_EQ(c.loads, 0);
    c.config->Kind = TConfig::kNowhere;
  }

  // A read-only file is not replaced, and keeps what it held.
  const std::string readOnly = dir / "ro.set";
  WriteAll(readOnly, "bleibt");
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  {
    FileConfig c(readOnly);
    c.stored = "neu";
    EXPECT_EQ(MessageOf<EFCreateError>([&] { c.config->Save(); }),
              "Datei " + readOnly + " kann nicht erstellt werden");
    EXPECT_EQ(ReadAll(readOnly), "bleibt");
    EXPECT_FALSE(IsFile(readOnly + ".tmp"));
    // The object stays usable: once writable again, it saves.
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    c.config->Save();
    EXPECT_EQ(ReadAll(readOnly), "neu");
  }

  // A directory in the file's place can be neither written nor read as a file.
  const std::string isDir = dir / "dir.set";
  CreateDirectoryA(isDir.c_str(), nullptr);
  FileConfig d(isDir);
  EXPECT_EQ(MessageOf<EFCreateError>([&] { d.config->Save(); }),
            "Datei " + isDir + " kann nicht erstellt werden");
  d.config->Load();
  EXPECT_EQ(d.loads, 1);
  EXPECT_EQ(d.loaded, "");
  d.config->Kind = TConfig::kNowhere;
}

TEST(TasksConfigFile, ReplacingKeepsHiddenAndSystemAttributes) {
  ScratchDir dir("cfg");
  const std::string path = dir / "h.set";
  WriteAll(path, "alt");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  {
    FileConfig c(path);
    c.stored = "neu";
    c.config->Save();
  }
  EXPECT_EQ(ReadAll(path), "neu");
  const DWORD attrs = GetFileAttributesA(path.c_str());
  EXPECT_TRUE(attrs & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(attrs & FILE_ATTRIBUTE_SYSTEM);
}

TEST(TasksConfigFile, ALeftoverFromAnInterruptedWriteIsReplaced) {
  ScratchDir dir("cfg");
  const std::string path = dir / "t.set";
  WriteAll(path, "alt");
  WriteAll(path + ".tmp", "halb geschrieb");
  SetFileAttributesA((path + ".tmp").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  FileConfig c(path);
  c.stored = "ganz";
  c.config->Save();
  EXPECT_EQ(ReadAll(path), "ganz");
  EXPECT_FALSE(IsFile(path + ".tmp"));
}

TEST(TasksConfigFile, AFailedFinalSaveIsShownNotThrown) {
  ScratchDir dir("cfg");
  const std::string path = dir / "ro.set";
  WriteAll(path, "bleibt");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  ErrorBoxes boxes;
  {
    FileConfig c(path);
    c.stored = "neu";
  }
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Datei " + path + " kann nicht erstellt werden"});
  EXPECT_EQ(ReadAll(path), "bleibt");
}

class TasksConfigRegistry : public ::testing::Test {
 protected:
  static constexpr char kKey[] = "Software\\Vaultkin Tests\\Config";
  void TearDown() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Vaultkin Tests");
  }
};

TEST_F(TasksConfigRegistry, SavesAndLoadsAStringValue) {
  std::string stored = "Wert mit Ümlaut", loaded = "stale";
  int loads = 0;
  {
    TConfig config(HKEY_CURRENT_USER, kKey, "Text");
    config.OnSave = [&](std::string& t) { t = stored; };
    config.OnLoad = [&](const std::string& t) {
      loaded = t;
      ++loads;
    };
    config.Load();  // no key yet: an empty text, and no key made
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(loaded, "");
    HKEY probe;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &probe), ERROR_SUCCESS);

    config.Save();
    config.Load();
    EXPECT_EQ(loaded, stored);
    stored = "beim Zerstören";
  }
  win::ScopedKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
  char buf[64] = {};
  DWORD type = 0, size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key.Get(), "Text", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(buf), "beim Zerstören");
}

TEST_F(TasksConfigRegistry, AValueOfAnotherTypeIsRefused) {
  win::ScopedKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                            key.Receive(), nullptr),
            ERROR_SUCCESS);
  const DWORD number = 7;
  RegSetValueExA(key.Get(), "Zahl", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof number);
  // Stored without its NUL: still read whole.
  RegSetValueExA(key.Get(), "Ohne", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
  TConfig config(HKEY_CURRENT_USER, kKey, "Zahl");
  std::string loaded;
  config.OnLoad = [&](const std::string& t) { loaded = t; };
  EXPECT_EQ(MessageOf<ERegistryError>([&] { config.Load(); }), "Ungültiger Datentyp für 'Zahl'");
  config.ValueName = "Ohne";
  config.Load();
  EXPECT_EQ(loaded, "abc");
  config.Kind = TConfig::kNowhere;
}

TEST(TasksConfigNowhere, StoresAndReadsNothing) {
  int saves = 0;
  std::string loaded = "stale";
  {
    TConfig config;
    EXPECT_EQ(config.Kind, TConfig::kNowhere);
    config.OnSave = [&](std::string& t) {
      t = "x";
      ++saves;
    };
    config.OnLoad = [&](const std::string& t) { loaded = t; };
    config.Save();
    config.Load();
  }
  EXPECT_EQ(saves, 2);  // asked, then dropped
  EXPECT_EQ(loaded, "");
}

TEST(TasksDirs, MakeDirsAndDirExists) {
  ScratchDir dir("dirs");
  EXPECT_TRUE(DirExists(dir.Path()));
  EXPECT_TRUE(DirExists(dir.Path() + "\\"));
  EXPECT_TRUE(DirExists("C:\\"));
  EXPECT_FALSE(DirExists(dir / "fehlt"));
  WriteAll(dir / "datei", "x");
  EXPECT_FALSE(DirExists(dir / "datei"));

  MakeDirs(dir / "a\\b\\c\\");
  EXPECT_TRUE(DirExists(dir / "a\\b\\c"));
  MakeDirs(dir / "a\\b\\c");  // already there
  MakeDirs("C:\\");
  MakeDirs("C:");
  EXPECT_EQ(MessageOf<EInOutError>([] { MakeDirs(""); }),
            "Das Verzeichnis kann nicht erstellt werden");
  // A file in the way is not reported here; what follows reports it.
  MakeDirs(dir / "datei\\unter");
  EXPECT_FALSE(DirExists(dir / "datei\\unter"));
}

TEST(TasksDirs, PathParts) {
  EXPECT_EQ(ExtractFilePath("C:\\a\\b.set"), "C:\\a\\");
  EXPECT_EQ(ExtractFilePath("C:b"), "C:");
  EXPECT_EQ(ExtractFilePath("b.set"), "");
  EXPECT_EQ(ExtractFileDir("C:\\a\\b.set"), "C:\\a");
  EXPECT_EQ(ExtractFileDir("C:\\b.set"), "C:\\");
  EXPECT_EQ(ExtractFileDir("\\\\srv\\\\x"), "\\\\srv\\\\");
  EXPECT_EQ(ExtractFileDir("b.set"), "");
}

}  // namespace
}  // namespace vk::tasks
