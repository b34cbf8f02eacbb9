// The file name box in a window of the test's own: its button's place, the name read
// from and written to its text, the file dialog by button and by Alt+Down (answered
// by a scripted user), and files dropped on it.
#include "widgets/file_name_box.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <string>

#include "task_dialogs_test_util.h"
#include "win/application.h"
#include "win/form.h"

namespace {

using namespace vk::dialogtest;
using vk::widgets::EButtonEditError;
using vk::widgets::TFileNameBox;
using vk::widgets::TPathBox;

class Host : public vk::win::Form {
 public:
  Host() { CreateForm("Dateiname", 300, 120); }
};

class FileNameBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vk::win::App().Initialize(GetModuleHandleA(nullptr));
    host_ = std::make_unique<Host>();
    box_.Create(host_->Handle(), 40, 28, 28, 221, 21);
    SendMessageA(box_.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(vk::win::Form::DefaultFont()), TRUE);
    host_->Show();
  }

  // Opens the dialog with `open` and, as the user, types `chosen` into it and presses
  // OK (or cancels when `chosen` is empty). The dialog runs modally on this thread.
  void Choose(const std::function<void()>& open, const std::string& chosen) {
    UserScript user({{"Browse", [&](HWND dialog) {
                        if (chosen.empty()) {
                          Press(dialog, IDCANCEL);
                          return;
                        }
                        HWND name = GetDlgItem(dialog, 0x47C);  // cmb13
                        if (!name) name = GetDlgItem(dialog, 0x480);
                        TypeInto(name, chosen);
                        Press(dialog, IDOK);
                      }}});
    open();
    EXPECT_TRUE(user.Finished());
  }
  void ClickButton() { SendMessageA(box_.Button(), BM_CLICK, 0, 0); }

  std::unique_ptr<Host> host_;
  TFileNameBox box_;
  TempDir files_{"box"};
};

TEST_F(FileNameBoxTest, TheButtonSitsInsideTheRightEndAndTheBoxKeepsItsMinimumHeight) {
  RECT button, box;
  GetWindowRect(box_.Button(), &button);
  MapWindowPoints(nullptr, box_.Handle(), reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(box_.ButtonRect(), (RECT{221 - 21 - 4, 0, 221 - 4, 21 - 4}));
  EXPECT_EQ(button, box_.ButtonRect());
  GetClientRect(box_.Handle(), &box);
  EXPECT_EQ(button.right, box.right);  // flush with the inner edge
  const LRESULT margins = SendMessageA(box_.Handle(), EM_GETMARGINS, 0, 0);
  EXPECT_EQ(HIWORD(margins), 21 + 2);  // the text stops short of the button

  box_.SetButtonWidth(30);
  EXPECT_EQ(box_.ButtonRect(), (RECT{221 - 30 - 4, 0, 221 - 4, 17}));
  box_.SetButtonWidth(500);  // not smaller than the box: ignored
  EXPECT_EQ(box_.ButtonWidth(), 30);

  SetWindowPos(box_.Handle(), nullptr, 0, 0, 221, 5, SWP_NOMOVE | SWP_NOZORDER);
  GetWindowRect(box_.Handle(), &box);
  EXPECT_EQ(box.bottom - box.top, box_.MinimumHeight());
  EXPECT_GT(box_.MinimumHeight(), 11);
}

TEST_F(FileNameBoxTest, TheFileNameIsTheFirstTokenOfTheText) {
  box_.SetText("C:\\Eigene Dateien\\backup.zip");
  EXPECT_EQ(box_.FileName(), "C:\\Eigene");
  box_.SetText("\"C:\\Eigene Dateien\\backup.zip\"");
  EXPECT_EQ(box_.FileName(), "C:\\Eigene Dateien\\backup.zip");

  box_.SetFileName("C:\\Eigene Dateien\\x.zip");
  EXPECT_EQ(box_.Text(), "\"C:\\Eigene Dateien\\x.zip\"");
  for (const std::string& bad : {std::string("C:\\a,b.zip"), std::string("C:\\a;b.zip"),
                                 std::string(256, 'x')}) {
    try {
      box_.SetFileName(bad);
      ADD_FAILURE() << bad;
    } catch (const EButtonEditError& e) {
      EXPECT_EQ(std::string(e.what()), "Ungültiger Dateiname - " + bad);
    }
  }
  EXPECT_EQ(box_.Text(), "\"C:\\Eigene Dateien\\x.zip\"");  // unchanged
}

TEST_F(FileNameBoxTest, TheDialogPutsAChosenNameWithABlankInQuotes) {
  const std::string folder = files_.MakeDir("Mit Blank");
  const std::string chosen = folder + "\\neu.zip";
  box_.DefaultExt = ".zip";
  box_.SetText(folder + "\\alt.zip");  // unquoted: the dialog starts from the first token
  std::vector<std::string> seen;
  box_.OnBeforeDialog = [&](TPathBox&, std::string& name, bool&) { seen.push_back(name); };
  box_.OnAfterDialog = [&](TPathBox&, std::string& name, bool& action) {
    seen.push_back(name + (action ? " ok" : " cancelled"));
  };
  Choose([&] { ClickButton(); }, chosen);
  EXPECT_EQ(box_.Text(), "\"" + chosen + "\"");
  EXPECT_EQ(box_.FileName(), chosen);
  EXPECT_EQ(box_.InitialDir, folder);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], files_.Path() + "\\Mit");
  EXPECT_EQ(seen[1], chosen + " ok");

  // Alt+Down opens it too; a cancelled dialog changes nothing.
  Choose([&] { SendMessageA(box_.Handle(), WM_SYSKEYDOWN, VK_DOWN, 1 << 29); }, "");
  EXPECT_EQ(box_.Text(), "\"" + chosen + "\"");
  EXPECT_EQ(seen.back(), chosen + " cancelled");

  // OnBeforeDialog can stop it before it opens.
  box_.OnBeforeDialog = [](TPathBox&, std::string&, bool& action) { action = false; };
  ClickButton();
  EXPECT_EQ(seen.size(), 4u);  // no dialog, so no OnAfterDialog
}

TEST_F(FileNameBoxTest, WithoutDirectInputOnlyTheButtonFillsTheBox) {
  box_.SetDirectInput(false);
  SetFocus(box_.Handle());
  SendMessageA(box_.Handle(), WM_CHAR, 'x', 0);
  SendMessageA(box_.Handle(), WM_PASTE, 0, 0);
  EXPECT_EQ(box_.Text(), "");
  const std::string chosen = files_ / "a.zip";
  Choose([&] { ClickButton(); }, chosen);
  EXPECT_EQ(box_.Text(), chosen);

  box_.SetReadOnly(true);  // neither typing nor the button
  int asked = 0;
  box_.OnBeforeDialog = [&](TPathBox&, std::string&, bool& action) {
    ++asked;
    action = false;
  };
  ClickButton();
  SendMessageA(box_.Handle(), WM_SYSKEYDOWN, VK_DOWN, 1 << 29);
  EXPECT_EQ(asked, 0);
}

// A drop of one file from the shell, as the shell hands it over.
HDROP DropOf(const std::string& name) {
  const size_t size = sizeof(DROPFILES) + name.size() + 2;
  HGLOBAL memory = GlobalAlloc(GHND, size);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), name.c_str(), name.size());
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

TEST_F(FileNameBoxTest, DroppedFilesAreTakenOnlyWhenAccepted) {
  int drops = 0;
  box_.OnDropFiles = [&](TPathBox&) { ++drops; };
  SendMessageA(box_.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf("C:\\a.zip")), 0);
  EXPECT_EQ(box_.Text(), "");
  box_.SetAcceptFiles(true);
  EXPECT_TRUE(GetWindowLongA(box_.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  SendMessageA(box_.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf("C:\\Neue Daten\\b.zip")), 0);
  EXPECT_EQ(box_.Text(), "\"C:\\Neue Daten\\b.zip\"");
  EXPECT_EQ(drops, 1);
  // An invalid name is refused with the message (answered here) and the text stays.
  UserScript user({Box("Fehler", IDOK)});
  SendMessageA(box_.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf("C:\\x;y.zip")), 0);
  ASSERT_TRUE(user.Finished());
  EXPECT_EQ(user.BoxTexts(), std::vector<std::string>{"Ungültiger Dateiname - C:\\x;y.zip"});
  EXPECT_EQ(box_.Text(), "\"C:\\Neue Daten\\b.zip\"");
  EXPECT_EQ(drops, 1);
}

}  // namespace
