// The task settings dialog: the folder tree of a real host directory, ticking with
// the mouse, and whole Execute runs answered by a scripted user.
#include "tasks/config_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/comma_list.h"
#include "task_dialogs_test_util.h"
#include "win/application.h"

namespace {

using namespace vk::dialogtest;
using vk::tasks::TConfigForm;
using vk::tasks::TSet;
using F = TConfigForm;

class ConfigFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vk::win::App().Initialize(GetModuleHandleA(nullptr));
    host_.MakeDir("Filebase");
    host_.MakeDir("Filebase\\Alt");
    host_.MakeDir("Filebase\\Plugins");
    host_.MakeDir("Inbound");
    host_.MakeDir("Plugins");
    host_.MakeDir("Versteckt", FILE_ATTRIBUTE_HIDDEN);
    WriteBytes(host_ / "kestrone.exe", "");
    form_ = std::make_unique<TConfigForm>();
    task_ = std::make_unique<TSet>(tasks_ / "t.set");
  }
  void TearDown() override {
    if (task_) task_->Discard();
  }

  HWND Tree() const { return form_->Control(F::kTvFolders); }

  std::string Caption(HTREEITEM node) const { return TreeCaption(Tree(), node); }
  HTREEITEM Child(HTREEITEM parent, const std::string& caption) const {
    for (auto n = TreeView_GetChild(Tree(), parent); n; n = TreeView_GetNextSibling(Tree(), n))
      if (Caption(n) == caption) return n;
    return nullptr;
  }
  // A node by its path of captions below the root ("" is the root).
  HTREEITEM Node(const std::string& path) const {
    HTREEITEM node = TreeView_GetRoot(Tree());
    size_t start = 0;
    while (node && start < path.size()) {
      const size_t end = path.find('\\', start);
      node = Child(node, path.substr(start, end - start));
      start = end == std::string::npos ? path.size() : end + 1;
    }
    return node;
  }
  int State(HTREEITEM node) const {
    return static_cast<int>((TreeView_GetItemState(Tree(), node, TVIS_STATEIMAGEMASK) >> 12) & 15);
  }
  // Presses the mouse on the node's check box, as the tree reports it.
  void ClickCheckBox(HTREEITEM node) {
    POINT at;
    ASSERT_TRUE(CheckBoxPoint(Tree(), node, &at)) << "no check box for " << Caption(node);
    form_->tvFoldersMouseDown(at.x, at.y);
  }
  int CountNodes(HTREEITEM first) const {
    int n = 0;
    for (auto node = first; node; node = TreeView_GetNextSibling(Tree(), node))
      n += 1 + CountNodes(TreeView_GetChild(Tree(), node));
    return n;
  }
  static std::vector<std::string> Sorted(const std::string& commaList) {
    vk::StringList list = vk::ReadCommaList(commaList);
    std::sort(list.begin(), list.end());
    return list;
  }

  // Runs Execute for the task with a user who acts on the dialog and presses `button`.
  bool Run(const std::function<void(HWND)>& act, int button) {
    UserScript user({{"Einstellungen", [&](HWND w) {
                        act(w);
                        Press(w, button);
                      }}});
    const bool ok = form_->Execute(task_.get());
    EXPECT_TRUE(user.Finished());
    return ok;
  }

  TempDir host_{"host"};
  ProgDirForTest progDir_{host_.Path()};
  TempDir tasks_{"tasks"};
  std::unique_ptr<TConfigForm> form_;
  std::unique_ptr<TSet> task_;
};

TEST_F(ConfigFormTest, TreeShowsVisibleSubdirectoriesAndTicksListedOnesInAnyCase) {
  form_->FillFolderTree(".,.\\filebase,.\\INBOUND\\,.\\Inbound,.\\MsgBase");
  HTREEITEM root = TreeView_GetRoot(Tree());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(Caption(root), host_.Path());
  EXPECT_EQ(CountNodes(root), 6);  // the root, 5 directories; no hidden one, no file
  EXPECT_EQ(Node("Versteckt"), nullptr);
  EXPECT_EQ(State(root), 2);
  EXPECT_EQ(State(Node("Filebase")), 2);
  EXPECT_EQ(State(Node("Inbound")), 2);
  EXPECT_EQ(State(Node("Filebase\\Alt")), 1);
  EXPECT_EQ(State(Node("Plugins")), 1);
  // Each ticked directory in its own letter case; the missing one has gone.
  EXPECT_EQ(Sorted(form_->GetInclDirs()),
            (std::vector<std::string>{".", ".\\Filebase", ".\\Inbound"}));
  EXPECT_EQ(vk::ReadCommaList(form_->GetInclDirs()).front(), ".");

  form_->FillFolderTree(".\\Filebase\\Alt");  // rebuilt, not added to
  EXPECT_EQ(CountNodes(TreeView_GetRoot(Tree())), 6);
  EXPECT_EQ(form_->GetInclDirs(), ".\\Filebase\\Alt");
}

TEST_F(ConfigFormTest, FoldersAreReadAsTheyAreOpenedAndListedOnesAreShown) {
  for (const char* dir : {"Tief", "Tief\\a", "Tief\\a\\b", "Tief\\a\\b\\c"}) host_.MakeDir(dir);
  form_->FillFolderTree(".\\Inbound");
  EXPECT_EQ(CountNodes(TreeView_GetRoot(Tree())), 5);  // the root and its four folders
  ASSERT_NE(Node("Tief"), nullptr);
  EXPECT_EQ(Node("Tief\\a"), nullptr);
  TreeView_Expand(Tree(), Node("Tief"), TVE_EXPAND);  // as a click on its "+"
  ASSERT_NE(Node("Tief\\a"), nullptr);
  EXPECT_EQ(Node("Tief\\a\\b"), nullptr);

  // A deep listed directory is shown, ticked, and kept on OK.
  form_->FillFolderTree(".\\Inbound,.\\tief\\A\\b");
  EXPECT_EQ(State(Node("Tief\\a\\b")), 2);
  EXPECT_NE(Node("Tief\\a\\b\\c"), nullptr);  // opened: its own folders are read
  EXPECT_EQ(Node("Filebase\\Alt"), nullptr);
  EXPECT_EQ(Sorted(form_->GetInclDirs()),
            (std::vector<std::string>{".\\Inbound", ".\\Tief\\a\\b"}));
}

TEST_F(ConfigFormTest, TickingChangesOneNodeOnly) {
  form_->FillFolderTree(".\\Inbound");
  TreeView_Expand(Tree(), Node("Filebase"), TVE_EXPAND);
  ClickCheckBox(Node("Filebase"));
  EXPECT_EQ(State(Node("Filebase")), 2);
  EXPECT_EQ(State(Node("Filebase\\Alt")), 1);
  ClickCheckBox(Node("Filebase\\Alt"));
  ClickCheckBox(Node("Filebase"));
  EXPECT_EQ(State(Node("Filebase")), 1);
  EXPECT_EQ(State(Node("Filebase\\Alt")), 2);
  EXPECT_EQ(Sorted(form_->GetInclDirs()),
            (std::vector<std::string>{".\\Filebase\\Alt", ".\\Inbound"}));
}

TEST_F(ConfigFormTest, UntickingTheLastDirectoryKeepsItAndSwitchesDirectoriesOff) {
  form_->FillFolderTree(".\\Inbound");
  form_->SetControlChecked(F::kCheckBox3, true);
  form_->CheckBox3Click();
  ASSERT_TRUE(IsWindowEnabled(Tree()));
  ClickCheckBox(Node("Inbound"));
  EXPECT_EQ(State(Node("Inbound")), 2);
  EXPECT_FALSE(form_->ControlChecked(F::kCheckBox3));
  EXPECT_FALSE(IsWindowEnabled(Tree()));
  EXPECT_EQ(form_->GetInclDirs(), ".\\Inbound");
}

TEST_F(ConfigFormTest, TickingPluginsBelowTheHostDirectoryWarnsEachTime) {
  const std::string warning =
      "Die ausführbare Datei \"Plugin_Vaultkin.exe\" von Vaultkin wird dennoch nicht gesichert, "
      "da sonst ein Zurückschreiben der Sicherung nicht möglich ist!";
  form_->FillFolderTree(".");
  {
    UserScript user({Box("Information", IDOK)});
    ClickCheckBox(Node("Plugins"));
    ASSERT_TRUE(user.Finished());
    EXPECT_EQ(user.BoxTexts(), std::vector<std::string>{warning});
  }
  EXPECT_EQ(State(Node("Plugins")), 2);  // ticked all the same
  {
    // Unticking, and ticking the deeper directory of that name, say nothing.
    UserScript user({Box("Information", IDOK)}, std::chrono::milliseconds(1500));
    ClickCheckBox(Node("Plugins"));
    TreeView_Expand(Tree(), Node("Filebase"), TVE_EXPAND);
    ClickCheckBox(Node("Filebase\\Plugins"));
    EXPECT_FALSE(user.Finished());
    EXPECT_EQ(user.Played(), 0);
  }
  {
    UserScript user({Box("Information", IDOK)});
    ClickCheckBox(Node("Plugins"));
    ASSERT_TRUE(user.Finished());
  }
}

TEST_F(ConfigFormTest, AMouseClickOnACheckBoxTicksItInTheOpenDialog) {
  task_->InclDirs = ".";
  bool pageShown = false;
  int stateAfter = 0;
  ASSERT_TRUE(Run(
      [&](HWND) {
        // The user picks the tab "Verzeichnisse" and clicks the check box of Inbound.
        SendMessageA(form_->Control(F::kPageControl), TCM_SETCURFOCUS, 1, 0);
        pageShown = IsWindowVisible(Tree()) != FALSE;
        HTREEITEM node = Node("Inbound");
        RECT label;
        if (!node || !TreeView_GetItemRect(Tree(), node, &label, TRUE)) return;
        const int y = (label.top + label.bottom) / 2;
        for (int x = 0; x < label.left; ++x) {
          TVHITTESTINFO hit = {};
          hit.pt = {x, y};
          TreeView_HitTest(Tree(), &hit);
          if (hit.hItem != node || !(hit.flags & TVHT_ONITEMSTATEICON)) continue;
          PostMessageA(Tree(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
          PostMessageA(Tree(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
          break;
        }
        for (int i = 0; i < 100 && State(node) != 2; ++i) Sleep(20);
        stateAfter = State(node);
      },
      IDOK));
  EXPECT_TRUE(pageShown);
  EXPECT_EQ(stateAfter, 2);
  EXPECT_EQ(Sorted(task_->InclDirs), (std::vector<std::string>{".", ".\\Inbound"}));
}

TEST_F(ConfigFormTest, ExecuteShowsTheTaskAndOkWithoutChangesKeepsIt) {
  task_->Name = "Woche";
  task_->Active = false;
  task_->InclDirs = ".,.\\filebase,.\\MsgBase";
  task_->UseDefZipName = true;
  task_->DefZipName = "C:\\Sicherung\\k.zip";
  task_->AutoMode = 2;
  task_->AutoDays = 7;
  task_->SaveRegistry = false;
  task_->SaveFiles = true;
  std::string name, file, days, zip;
  int page = -1;
  bool active = true, zipEnabled = false, treeEnabled = false, every = false;
  ASSERT_TRUE(Run(
      [&](HWND) {
        page = form_->ActivePage();
        name = WindowText(form_->Control(F::kEdit2));
        file = WindowText(form_->Control(F::kEdit3));
        active = form_->ControlChecked(F::kCheckBox1);
        zip = WindowText(form_->Control(F::kFileNameBox1));
        zipEnabled = IsWindowEnabled(form_->Control(F::kFileNameBox1));
        treeEnabled = IsWindowEnabled(Tree());
        every = form_->ControlChecked(F::kRbAuto2);
        days = WindowText(form_->Control(F::kEdit1));
      },
      IDOK));
  EXPECT_EQ(page, 0);
  EXPECT_EQ(name, "Woche");
  EXPECT_EQ(file, "t.set");
  EXPECT_FALSE(active);
  EXPECT_EQ(zip, "C:\\Sicherung\\k.zip");
  EXPECT_TRUE(zipEnabled);
  EXPECT_TRUE(treeEnabled);
  EXPECT_TRUE(every);
  EXPECT_EQ(days, "7");

  EXPECT_EQ(task_->Name, "Woche");
  EXPECT_FALSE(task_->Active);
  EXPECT_EQ(Sorted(task_->InclDirs), (std::vector<std::string>{".", ".\\Filebase"}));
  EXPECT_TRUE(task_->UseDefZipName);
  EXPECT_EQ(task_->DefZipName, "C:\\Sicherung\\k.zip");
  EXPECT_EQ(task_->AutoMode, 2);
  EXPECT_EQ(task_->AutoDays, 7);
  EXPECT_FALSE(task_->SaveRegistry);
  EXPECT_TRUE(task_->SaveFiles);
}

TEST_F(ConfigFormTest, CancelAfterChangesLeavesTheTaskAsItWas) {
  task_->AutoMode = 3;
  const vk::SetFields before = *task_;
  EXPECT_FALSE(Run(
      [&](HWND) {
        TypeInto(form_->Control(F::kEdit2), "Anders");
        form_->SetControlChecked(F::kCheckBox1, false);
        form_->SetControlChecked(F::kCheckBox2, false);
        TypeInto(form_->Control(F::kEdit1), "30");
        SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(F::kLabel5, STN_CLICKED),
                     reinterpret_cast<LPARAM>(form_->Control(F::kLabel5)));
      },
      IDCANCEL));
  EXPECT_EQ(task_->Name, before.Name);
  EXPECT_EQ(task_->Active, before.Active);
  EXPECT_EQ(task_->InclDirs, before.InclDirs);
  EXPECT_EQ(task_->SaveRegistry, before.SaveRegistry);
  EXPECT_EQ(task_->AutoMode, 3);
  EXPECT_EQ(task_->AutoDays, before.AutoDays);
  EXPECT_FALSE(form_->Execute(nullptr));
}

TEST_F(ConfigFormTest, OkCopiesEveryPageBack) {
  task_->AutoMode = 3;
  task_->UseDefZipName = false;
  bool disabledWhenAsking = true, enabledWhenFixed = false;
  ASSERT_TRUE(Run(
      [&](HWND) {
        disabledWhenAsking = !IsWindowEnabled(form_->Control(F::kFileNameBox1));
        TypeInto(form_->Control(F::kEdit2), "Neuer Name");
        SendMessageA(form_->Control(F::kCheckBox1), BM_CLICK, 0, 0);  // was active
        SendMessageA(form_->Control(F::kRadioButton1), BM_CLICK, 0, 0);
        enabledWhenFixed = IsWindowEnabled(form_->Control(F::kFileNameBox1)) &&
                           IsWindowEnabled(form_->Control(F::kFileNameButton));
        TypeInto(form_->Control(F::kFileNameBox1), "\"C:\\Eigene Dateien\\b.zip\"");
        SendMessageA(form_->Control(F::kCheckBox2), BM_CLICK, 0, 0);  // was on
        // The label of the chosen "every start" option unchooses it: none is chosen.
        SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(F::kLabel5, STN_CLICKED),
                     reinterpret_cast<LPARAM>(form_->Control(F::kLabel5)));
        TypeInto(form_->Control(F::kEdit1), "12");
      },
      IDOK));
  EXPECT_TRUE(disabledWhenAsking);
  EXPECT_TRUE(enabledWhenFixed);
  EXPECT_EQ(task_->Name, "Neuer Name");
  EXPECT_FALSE(task_->Active);
  EXPECT_TRUE(task_->UseDefZipName);
  EXPECT_EQ(task_->DefZipName, "\"C:\\Eigene Dateien\\b.zip\"");
  EXPECT_FALSE(task_->SaveRegistry);
  EXPECT_EQ(task_->AutoMode, 1);
  EXPECT_EQ(task_->AutoDays, 12);
  EXPECT_FALSE(form_->ControlChecked(F::kRbAuto1));
}

TEST_F(ConfigFormTest, GenerationsBelongToTheFixedNameAndFollowTheRegistryOption) {
  task_->UseDefZipName = true;
  task_->Generations = 3;
  std::string shown;
  bool enabledWhenFixed = false, disabledWhenAsking = false, enabledAgain = false;
  HWND afterRegistry = nullptr;
  ASSERT_TRUE(Run(
      [&](HWND) {
        shown = WindowText(form_->Control(F::kEditGenerations));
        enabledWhenFixed = IsWindowEnabled(form_->Control(F::kEditGenerations)) &&
                           IsWindowEnabled(form_->Control(F::kUpDownGenerations));
        SendMessageA(form_->Control(F::kRadioButton2), BM_CLICK, 0, 0);
        disabledWhenAsking = !IsWindowEnabled(form_->Control(F::kEditGenerations)) &&
                             !IsWindowEnabled(form_->Control(F::kUpDownGenerations));
        SendMessageA(form_->Control(F::kRadioButton1), BM_CLICK, 0, 0);
        enabledAgain = IsWindowEnabled(form_->Control(F::kEditGenerations));
        afterRegistry = GetNextDlgTabItem(GetParent(form_->Control(F::kCheckBox2)),
                                          form_->Control(F::kCheckBox2), FALSE);
        TypeInto(form_->Control(F::kEditGenerations), "5");
      },
      IDOK));
  EXPECT_EQ(shown, "3");
  EXPECT_TRUE(enabledWhenFixed);
  EXPECT_TRUE(disabledWhenAsking);
  EXPECT_TRUE(enabledAgain);
  EXPECT_EQ(afterRegistry, form_->Control(F::kEditGenerations));
  EXPECT_EQ(task_->Generations, 5);

  // Values beyond the box's range are shown at its nearest end and stored so on OK.
  for (auto [stored, kept] : {std::pair{0, 1}, std::pair{500, 99}}) {
    task_->Generations = stored;
    ASSERT_TRUE(Run([&](HWND) { TypeInto(form_->Control(F::kEditGenerations), "abc"); }, IDOK));
    EXPECT_EQ(task_->Generations, kept) << stored;
  }
}

TEST_F(ConfigFormTest, LabelsToggleTheirOptionAndChooseItAlone) {
  form_->SetControlChecked(F::kRbAuto1, true);
  form_->Label2Click();
  EXPECT_TRUE(form_->ControlChecked(F::kRbAuto2));
  EXPECT_FALSE(form_->ControlChecked(F::kRbAuto1));
  form_->Label5Click();
  EXPECT_TRUE(form_->ControlChecked(F::kRbAuto3));
  EXPECT_FALSE(form_->ControlChecked(F::kRbAuto2));
  form_->Label5Click();
  EXPECT_FALSE(form_->ControlChecked(F::kRbAuto3));
}

TEST_F(ConfigFormTest, DaysUseTheLow16BitsAndTypedNonsenseKeepsThePosition) {
  task_->AutoDays = 65536 + 7;
  std::string shown;
  ASSERT_TRUE(Run([&](HWND) { shown = WindowText(form_->Control(F::kEdit1)); }, IDOK));
  EXPECT_EQ(shown, "7");
  EXPECT_EQ(task_->AutoDays, 7);

  for (const char* typed : {"abc", "0", "40000", ""}) {
    task_->AutoDays = 9;
    ASSERT_TRUE(Run([&](HWND) { TypeInto(form_->Control(F::kEdit1), typed); }, IDOK));
    EXPECT_EQ(task_->AutoDays, 9) << typed;
  }
  task_->AutoDays = 32767;
  ASSERT_TRUE(Run([](HWND) {}, IDOK));
  EXPECT_EQ(task_->AutoDays, 32767);
}

TEST_F(ConfigFormTest, AnUnknownAutoModeKeepsTheLastChoice) {
  task_->AutoMode = 3;
  ASSERT_TRUE(Run([](HWND) {}, IDOK));
  task_->AutoMode = 7;
  ASSERT_TRUE(Run([](HWND) {}, IDOK));
  EXPECT_EQ(task_->AutoMode, 3);
}

TEST_F(ConfigFormTest, BrowseButtonPutsANameWithABlankInQuotes) {
  host_.MakeDir("Mit Blank");
  const std::string chosen = host_ / "Mit Blank\\sicherung.zip";
  task_->UseDefZipName = true;
  task_->DefZipName = host_ / "Backup\\alt.zip";
  std::string shown;
  ASSERT_TRUE(Run(
      [&](HWND) {
        UserScript browse({{"Browse", [&](HWND dialog) {
                              HWND name = GetDlgItem(dialog, 0x47C);  // cmb13
                              if (!name) name = GetDlgItem(dialog, 0x480);
                              TypeInto(name, chosen);
                              Press(dialog, IDOK);
                            }}});
        Click(form_->Control(F::kFileNameButton));
        ASSERT_TRUE(browse.Finished());
        for (int i = 0; i < 200 && shown.empty(); ++i) {
          Sleep(20);
          const std::string text = WindowText(form_->Control(F::kFileNameBox1));
          if (text != task_->DefZipName) shown = text;
        }
      },
      IDOK));
  EXPECT_EQ(shown, "\"" + chosen + "\"");
  EXPECT_EQ(task_->DefZipName, "\"" + chosen + "\"");
  task_->Save();  // the task file holds the name without its quotes
  EXPECT_NE(ReadBytes(tasks_ / "t.set").find("DefZipName=" + chosen + "\""), std::string::npos)
      << ReadBytes(tasks_ / "t.set");
}

// Real keyboard and mouse input from the scripted user's thread.
void Key(WORD key, bool up) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = key;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
}
void ClickAt(POINT screen) {
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  INPUT in[2] = {};
  for (INPUT& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = static_cast<LONG>((screen.x * 65536LL + w - 1) / w);
    i.mi.dy = static_cast<LONG>((screen.y * 65536LL + h - 1) / h);
  }
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof in[0]);
}

TEST_F(ConfigFormTest, EveryPageIsReachedByItsTabAndByCtrlTab) {
  // A control on each page: visible exactly while its page is shown.
  const int onPage[F::kPageCount] = {F::kEdit2, F::kTvFolders, F::kRadioButton1, F::kLabel6};
  auto shownPage = [&] {
    int shown = -1;
    for (int i = 0; i < F::kPageCount; ++i)
      if (IsWindowVisible(form_->Control(onPage[i]))) shown = shown == -1 ? i : -2;
    return shown;
  };
  auto waitFor = [&](int page) {
    for (int i = 0; i < 200 && shownPage() != page; ++i) Sleep(10);
    return shownPage();
  };
  std::vector<int> byMouse, byKey;
  ASSERT_FALSE(Run(
      [&](HWND) {
        HWND tabs = form_->Control(F::kPageControl);
        for (int page : {3, 1, 2, 0}) {
          RECT tab;
          SendMessageA(tabs, TCM_GETITEMRECT, page, reinterpret_cast<LPARAM>(&tab));
          POINT centre = {(tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2};
          ClientToScreen(tabs, &centre);
          ClickAt(centre);
          byMouse.push_back(waitFor(page));
          Sleep(600);  // the next click must not make a double click of this one
        }
        SendMessageA(form_->Control(F::kEdit2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        for (int step : {1, 2, 3, 0}) {  // from a control inside the page, round again
          Key(VK_CONTROL, false);
          Key(VK_TAB, false);
          Key(VK_TAB, true);
          Key(VK_CONTROL, true);
          byKey.push_back(waitFor(step));
        }
        Key(VK_CONTROL, false);
        Key(VK_SHIFT, false);
        Key(VK_TAB, false);
        Key(VK_TAB, true);
        Key(VK_SHIFT, true);
        Key(VK_CONTROL, true);
        byKey.push_back(waitFor(3));
      },
      IDCANCEL));
  EXPECT_EQ(byMouse, (std::vector<int>{3, 1, 2, 0}));
  EXPECT_EQ(byKey, (std::vector<int>{1, 2, 3, 0, 3}));
}

TEST(ConfigFormNoHost, WithoutAHostDirectoryTheTreeIsEmptyAndOkKeepsTheDirectories) {
  vk::win::App().Initialize(GetModuleHandleA(nullptr));
  ProgDirForTest progDir("");
  TempDir tasks("tasks");
  // Every host directory question (the shell's folder dialog) is cancelled as it comes.
  std::atomic<bool> done{false};
  std::atomic<int> asked{0};
  std::thread cancel([&] {
    while (!done) {
      for (HWND w : OwnWindows())
        if (ClassName(w) == "#32770" && FindWindowExA(w, nullptr, "SysTreeView32", nullptr)) {
          Press(w, IDCANCEL);
          ++asked;
          while (IsWindow(w) && IsWindowVisible(w)) Sleep(10);
        }
      Sleep(20);
    }
  });
  {
    TConfigForm form;
    TSet task(tasks / "t.set");  // no file: its default archive name asks as well
    task.InclDirs = ".\\Filebase";
    UserScript user({{"Einstellungen", [](HWND w) { Press(w, IDOK); }}});
    EXPECT_TRUE(form.Execute(&task));
    EXPECT_TRUE(user.Finished());
    EXPECT_EQ(TreeView_GetCount(form.Control(F::kTvFolders)), 0u);
    EXPECT_EQ(task.InclDirs, ".\\Filebase");
    task.Discard();
  }
  done = true;
  cancel.join();
  EXPECT_GE(asked, 2);
}

}  // namespace
