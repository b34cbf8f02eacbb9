#include "widgets/browse_dialog.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "tasks_test_util.h"

namespace vk::widgets {
namespace {

using tasktest::ErrorBoxes;
using tasktest::FindFolderBrowser;
using tasktest::HasChildWithText;
using tasktest::Press;
using tasktest::WindowWatcher;

bool SamePath(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// Notes what the dialog reported to its handlers.
struct Events {
  std::vector<std::string> initialized, selected;
  void Attach(TBrowseDialog& dialog) {
    dialog.OnInitialized = [this](TBrowseDialog&, HWND, const std::string& path, std::string&,
                                  TOKButtonState&) { initialized.push_back(path); };
    dialog.OnSelectionChanged = [this](TBrowseDialog&, HWND, const std::string& path,
                                       std::string&, TOKButtonState&) { selected.push_back(path); };
  }
};

TEST(BrowseDialog, CancelLeavesDirectoryAsItWas) {
  TBrowseDialog dialog;
  dialog.Directory = "C:\\windows";
  Events events;
  events.Attach(dialog);
  WindowWatcher user(FindFolderBrowser, [](HWND w) { Press(w, IDCANCEL); });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(user.Handled(), 1);
  EXPECT_EQ(dialog.Directory, "C:\\windows");
  EXPECT_EQ(events.initialized, std::vector<std::string>{"C:\\windows"});
}

TEST(BrowseDialog, PreselectsDirectoryAndReturnsTheChosenPath) {
  struct Case {
    const char* directory;
    const char* preselected;
  };
  for (const Case c : {Case{"C:\\windows\\", "C:\\windows"}, Case{"C:\\windows\\system32",
                                                                    "C:\\windows\\system32"},
                       Case{"C:\\", "C:\\"}}) {
    TBrowseDialog dialog;
    dialog.Directory = c.directory;
    Events events;
    events.Attach(dialog);
    WindowWatcher user(FindFolderBrowser, [](HWND w) { Press(w, IDOK); });
    EXPECT_TRUE(dialog.Execute()) << c.directory;
    EXPECT_EQ(events.initialized, std::vector<std::string>{c.preselected});
    ASSERT_FALSE(events.selected.empty()) << c.directory;
    EXPECT_TRUE(SamePath(events.selected.back(), c.preselected)) << events.selected.back();
    EXPECT_TRUE(SamePath(dialog.Directory, c.preselected)) << dialog.Directory;
    EXPECT_FALSE(dialog.DisplayName().empty());
  }
}

TEST(BrowseDialog, HandlersSetStatusTextAndOKButton) {
  TBrowseDialog dialog;
  dialog.Caption = "Ordner wählen";
  dialog.Directory = "C:\\windows";
  dialog.Options = {TBrowseOption::biReturnOnlyFSDirs, TBrowseOption::biStatusText};
  dialog.OnSelectionChanged = [](TBrowseDialog&, HWND, const std::string& path,
                                 std::string& status, TOKButtonState& ok) {
    status = "Gewählt: " + path;
  };
  dialog.OnInitialized = [](TBrowseDialog&, HWND, const std::string& path, std::string&,
                            TOKButtonState& ok) { ok = TOKButtonState::Disable; };
  std::atomic<bool> captionShown{false}, statusShown{false}, okEnabled{true};
  WindowWatcher user(FindFolderBrowser, [&](HWND w) {
    captionShown = HasChildWithText(w, "Ordner wählen");
    // The preselection's status text is replaced by the start's empty one; a
    // selection made afterwards keeps its own.
    okEnabled = IsWindowEnabled(GetDlgItem(w, IDOK)) != 0;
    const char other[] = "C:\\windows\\system32";
    SendMessageA(w, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(other));
    statusShown = HasChildWithText(w, std::string("Gewählt: ") + other);
    Press(w, IDCANCEL);
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_TRUE(captionShown);
  EXPECT_TRUE(statusShown);
  EXPECT_FALSE(okEnabled);
}

TEST(BrowseDialog, AnUnknownRootStartsAtTheDesktopWithoutAMessage) {
  ErrorBoxes boxes;
  TBrowseDialog dialog;
  dialog.Root = "C:\\Gibt es nicht\\wirklich";
  dialog.Directory = "C:\\windows";
  WindowWatcher user(FindFolderBrowser, [](HWND w) { Press(w, IDOK); });
  EXPECT_TRUE(dialog.Execute());
  EXPECT_TRUE(SamePath(dialog.Directory, "C:\\windows")) << dialog.Directory;
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(BrowseDialog, AnItemWithoutAPathGivesAnEmptyDirectory) {
  TBrowseDialog dialog;
  dialog.Directory = "C:\\windows";
  dialog.Options = {};  // not only file-system folders
  LPITEMIDLIST computer = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer), S_OK);
  WindowWatcher user(FindFolderBrowser, [computer](HWND w) {
    SendMessageA(w, BFFM_SETSELECTIONA, /*isPath=*/FALSE, reinterpret_cast<LPARAM>(computer));
    Press(w, IDOK);
  });
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Directory, "");
  CoTaskMemFree(computer);
}

TEST(BrowseDialog, TheApplicationsWindowsAreDisabledMeanwhile) {
  HWND window = CreateWindowExA(0, "STATIC", "Vaultkin-Testfenster", WS_POPUP | WS_VISIBLE, 10,
                                10, 100, 50, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(window);
  std::atomic<int> enabledDuring{-1};
  WindowWatcher user(FindFolderBrowser, [&](HWND w) {
    enabledDuring = IsWindowEnabled(window) ? 1 : 0;
    Press(w, IDCANCEL);
  });
  TBrowseDialog dialog;
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(enabledDuring, 0);
  EXPECT_TRUE(IsWindowEnabled(window));
  DestroyWindow(window);
}

TEST(BrowseDialog, OptionsMapToShellFlags) {
  EXPECT_EQ(TBrowseOptions{}.ShellFlags(), 0u);
  EXPECT_EQ(TBrowseDialog().Options.ShellFlags(), static_cast<UINT>(BIF_RETURNONLYFSDIRS));
  TBrowseOptions all{TBrowseOption::biBrowseForComputer, TBrowseOption::biBrowseForPrinter,
                     TBrowseOption::biDontGoBelowDomain, TBrowseOption::biReturnFSAncestors,
                     TBrowseOption::biReturnOnlyFSDirs,  TBrowseOption::biStatusText};
  EXPECT_EQ(all.ShellFlags(), 0x1000u | 0x2000u | 0x0002u | 0x0008u | 0x0001u | 0x0004u);
  all.Exclude(TBrowseOption::biBrowseForPrinter);
  EXPECT_EQ(all.ShellFlags() & 0x2000u, 0u);
}

}  // namespace
}  // namespace vk::widgets
