#include "tasks/hostdir.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "core/errors.h"
#include "tasks_test_util.h"

namespace vk::tasks {
namespace {

using tasktest::FindFolderBrowser;
using tasktest::HasChildWithText;
using tasktest::Press;
using tasktest::ProgDirValue;
using tasktest::WindowWatcher;

constexpr char kQuestion[] = "Bitte Kestrone-Verzeichnis angeben.";

class TasksHostDir : public ::testing::Test {
 protected:
  void SetUp() override { ResetRememberedHostDirForTesting(); }
  void TearDown() override { ResetRememberedHostDirForTesting(); }
  ProgDirValue progDir;
};

// Cancels every folder question and counts them.
struct CancelQuestions {
  std::atomic<bool> asked{false};
  WindowWatcher watcher{FindFolderBrowser, [this](HWND dialog) {
                          if (HasChildWithText(dialog, kQuestion)) asked = true;
                          Press(dialog, IDCANCEL);
                        }};
};

// Answers every folder question by choosing `path`. Now and then Wine's folder
// browser never shows a folder in its tree; the question is then cancelled, as a
// user would, so the caller can ask again.
struct ChooseFolder {
  explicit ChooseFolder(std::string p) : path(std::move(p)) {}
  std::string path;
  WindowWatcher watcher{FindFolderBrowser, [this](HWND dialog) {
                          selected = tasktest::SelectFolder(dialog, path);
                          Press(dialog, selected ? IDOK : IDCANCEL);
                        }};
  std::atomic<bool> selected{false};
};

TEST_F(TasksHostDir, RegistryValueLosesOneTrailingBackslash) {
  progDir.SetString("C:\\Kestrone\\");
  EXPECT_EQ(GetHostDir(), "C:\\Kestrone");
  progDir.SetString("C:\\Kestrone\\\\");
  EXPECT_EQ(GetHostDir(), "C:\\Kestrone\\");
  progDir.SetString("D:\\Kestrone 95");
  EXPECT_EQ(GetHostDir(), "D:\\Kestrone 95");
  // An expandable string is a string too; it is taken as it stands.
  progDir.SetString("%WINDIR%\\Kestrone", REG_EXPAND_SZ);
  EXPECT_EQ(GetHostDir(), "%WINDIR%\\Kestrone");
  // Stored without the terminating NUL.
  progDir.Set(REG_SZ, "E:\\K");
  EXPECT_EQ(GetHostDir(), "E:\\K");
}

TEST_F(TasksHostDir, AValueThatIsNoStringIsAnError) {
  for (DWORD type : {DWORD{REG_DWORD}, DWORD{REG_BINARY}, DWORD{REG_MULTI_SZ}}) {
    progDir.Set(type, std::string("C:\\K\0\0", 6));
    try {
      GetHostDir();
      ADD_FAILURE() << "no error for type " << type;
    } catch (const ERegistryError& e) {
      EXPECT_STREQ(e.what(), "Ungültiger Datentyp für 'ProgDir'");
    }
  }
}

TEST_F(TasksHostDir, NoValueAsksEachTimeUntilAnswered) {
  CancelQuestions user;
  progDir.Delete();
  EXPECT_EQ(GetHostDir(), "");
  EXPECT_EQ(user.watcher.Handled(), 1);
  EXPECT_TRUE(user.asked);
  // An empty value is as good as none; a lone backslash too, once it has lost it.
  progDir.SetString("");
  EXPECT_EQ(GetHostDir(), "");
  progDir.SetString("\\");
  EXPECT_EQ(GetHostDir(), "");
  EXPECT_EQ(user.watcher.Handled(), 3);
}

class TasksHostDirChosen : public TasksHostDir {
 protected:
  void SetUp() override {
    TasksHostDir::SetUp();
    madeRoot = CreateDirectoryA(kRoot, nullptr) != 0;
    host = std::string(kRoot) + "\\VkHost" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(host.c_str(), nullptr);
  }
  void TearDown() override {
    RemoveDirectoryA(host.c_str());
    if (madeRoot) RemoveDirectoryA(kRoot);
    TasksHostDir::TearDown();
  }
  static constexpr char kRoot[] = "C:\\Programme";
  bool madeRoot = false;
  std::string host;
};

TEST_F(TasksHostDirChosen, TheChosenFolderIsRememberedUntilTheRegistryHasOne) {
  progDir.Delete();
  std::string answered;
  for (int question = 0; question < 5 && answered.empty(); ++question) {
    ChooseFolder user(host);
    answered = GetHostDir();  // a cancelled question leaves nothing remembered
    EXPECT_EQ(user.watcher.Handled(), 1);
  }
  EXPECT_TRUE(_stricmp(answered.c_str(), host.c_str()) == 0) << answered;
  const std::string chosen = GetHostDir();  // no question this time
  {
    CancelQuestions user;
    EXPECT_EQ(GetHostDir(), chosen);
    EXPECT_EQ(user.watcher.Handled(), 0);

    progDir.SetString("C:\\Aus der Registry\\");
    EXPECT_EQ(GetHostDir(), "C:\\Aus der Registry");
    // The registry's value is now the remembered one.
    progDir.Delete();
    EXPECT_EQ(GetHostDir(), "C:\\Aus der Registry");
    EXPECT_EQ(user.watcher.Handled(), 0);
  }
}

}  // namespace
}  // namespace vk::tasks
