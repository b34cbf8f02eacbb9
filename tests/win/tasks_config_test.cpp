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
using tasktest::ReadBytes;
using tasktest::TempDir;
using tasktest::WriteBytes;

// A TConfig whose text lives in `stored`; Forget() spares a test its final save.
struct Owner {
  explicit Owner(std::unique_ptr<TConfig> c) : config(std::move(c)) {
    config->OnSave = [this](std::string& text) { text = stored; };
    config->OnLoad = [this](const std::string& text) {
      loaded = text;
      ++loads;
    };
  }
  explicit Owner(const std::string& file) : Owner(std::make_unique<TConfig>(file)) {}
  void Forget() { config->Kind = TConfig::kNowhere; }
  std::string stored, loaded = "stale";
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

TEST(TasksConfigFile, LoadAndSaveExactBytes) {
  TempDir dir("cfg");
  const std::string path = dir / "a\\b\\t.set";
  {
    Owner o(path);
    o.config->Load();  // missing: an empty text, and nothing created
    EXPECT_EQ(o.loads, 1);
    EXPECT_EQ(o.loaded, "");
    EXPECT_FALSE(DirExists(dir / "a"));

    o.stored = std::string("Größe,\"x y\"\0tail", 16);
    o.config->Save();  // makes the parents; no BOM, no line break
    EXPECT_EQ(ReadBytes(path), o.stored);
    o.config->Load();
    EXPECT_EQ(o.loaded, o.stored);
    o.stored = "kurz";
    o.config->Save();
    EXPECT_EQ(ReadBytes(path), "kurz");
    EXPECT_FALSE(IsFile(path + ".tmp"));
    o.stored = "am Ende";
  }
  EXPECT_EQ(ReadBytes(path), "am Ende");  // destroying saves once more

  TConfig bare(path);
  bare.Load();  // no OnLoad: nothing at all
  bare.Save();  // no OnSave: an empty text, an empty file
  EXPECT_TRUE(IsFile(path));
  EXPECT_EQ(ReadBytes(path), "");
}

TEST(TasksConfigFile, ErrorsNameTheFileAndLeaveItAsItWas) {
  TempDir dir("cfg");
  Owner noDir("t.set");
  EXPECT_EQ(MessageOf<EInOutError>([&] { noDir.config->Save(); }),
            "Das Verzeichnis kann nicht erstellt werden");
  noDir.Forget();

  const std::string locked = dir / "locked.set";
  WriteBytes(locked, "x");
  {
    win::ScopedHandle hold(CreateFileA(locked.c_str(), GENERIC_READ, /*dwShareMode=*/0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    Owner o(locked);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { o.config->Load(); }),
              "Datei " + locked + " kann nicht geöffnet werden");
    EXPECT_EQ(o.loads, 0);
    o.Forget();
  }

  const std::string readOnly = dir / "ro.set";
  WriteBytes(readOnly, "bleibt");
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  Owner o(readOnly);
  o.stored = "neu";
  EXPECT_EQ(MessageOf<EFCreateError>([&] { o.config->Save(); }),
            "Datei " + readOnly + " kann nicht erstellt werden");
  EXPECT_EQ(ReadBytes(readOnly), "bleibt");
  EXPECT_FALSE(IsFile(readOnly + ".tmp"));
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
  o.config->Save();  // still usable
  EXPECT_EQ(ReadBytes(readOnly), "neu");
}

TEST(TasksConfigFile, ReplacingKeepsAttributesAndClearsLeftovers) {
  TempDir dir("cfg");
  const std::string path = dir / "h.set";
  WriteBytes(path, "alt");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  WriteBytes(path + ".tmp", "halb geschrieb");  // an interrupted write of an earlier run
  SetFileAttributesA((path + ".tmp").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  Owner o(path);
  o.stored = "neu";
  o.config->Save();
  EXPECT_EQ(ReadBytes(path), "neu");
  EXPECT_FALSE(IsFile(path + ".tmp"));
  const DWORD attrs = GetFileAttributesA(path.c_str());
  EXPECT_TRUE((attrs & FILE_ATTRIBUTE_HIDDEN) && (attrs & FILE_ATTRIBUTE_SYSTEM));
}

TEST(TasksConfigFile, AFailedFinalSaveIsShownNotThrown) {
  TempDir dir("cfg");
  const std::string path = dir / "ro.set";
  WriteBytes(path, "bleibt");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  ErrorBoxes boxes;
  Owner(path).stored = "neu";
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Datei " + path + " kann nicht erstellt werden"});
  EXPECT_EQ(ReadBytes(path), "bleibt");
}

TEST(TasksConfigRegistry, StringValues) {
  const char key[] = "Software\\Vaultkin Tests\\Config";
  {
    Owner o(std::make_unique<TConfig>(HKEY_CURRENT_USER, key, "Text"));
    o.config->Load();  // no key: an empty text
    EXPECT_EQ(o.loaded, "");
    o.stored = "Wert mit Ümlaut";
    o.config->Save();
    o.config->Load();
    EXPECT_EQ(o.loaded, "Wert mit Ümlaut");

    win::ScopedKey k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_WRITE, k.Receive()), ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExA(k.Get(), "Zahl", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    o.config->ValueName = "Zahl";
    EXPECT_EQ(MessageOf<ERegistryError>([&] { o.config->Load(); }),
              "Ungültiger Datentyp für 'Zahl'");
    o.config->ValueName = "Text";
    o.stored = "beim Zerstören";
  }
  TConfig reader(HKEY_CURRENT_USER, key, "Text");
  std::string loaded;
  reader.OnLoad = [&](const std::string& t) { loaded = t; };
  reader.Load();
  EXPECT_EQ(loaded, "beim Zerstören");
  reader.Kind = TConfig::kNowhere;
  RegDeleteKeyA(HKEY_CURRENT_USER, key);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Vaultkin Tests");
}

TEST(TasksDirs, MakeDirsAndDirExists) {
  TempDir dir("dirs");
  EXPECT_TRUE(DirExists(dir.Path() + "\\"));
  EXPECT_FALSE(DirExists(dir / "fehlt"));
  WriteBytes(dir / "datei", "x");
  EXPECT_FALSE(DirExists(dir / "datei"));

  MakeDirs(dir / "a\\b\\c\\");
  EXPECT_TRUE(DirExists(dir / "a\\b\\c"));
  MakeDirs("C:\\");
  EXPECT_EQ(MessageOf<EInOutError>([] { MakeDirs(""); }),
            "Das Verzeichnis kann nicht erstellt werden");
  MakeDirs(dir / "datei\\unter");  // not reported here: the file operation after it does
  EXPECT_FALSE(DirExists(dir / "datei\\unter"));

  EXPECT_EQ(ExtractFileDir("C:\\a\\b.set"), "C:\\a");
  EXPECT_EQ(ExtractFileDir("C:\\b.set"), "C:\\");
  EXPECT_EQ(ExtractFileDir("\\\\srv\\\\x"), "\\\\srv\\\\");
  EXPECT_EQ(ExtractFileDir("b.set"), "");
}

}  // namespace
}  // namespace vk::tasks
