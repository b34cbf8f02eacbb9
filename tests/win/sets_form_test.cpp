// The task list dialog and the new-task name dialog, driven the way a user would:
// the handlers run on the test thread, a scripted user answers their modal windows.
#include "tasks/sets_form.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "task_dialogs_test_util.h"
#include "tasks/config_form.h"
#include "tasks/getfname_form.h"
#include "win/application.h"

namespace {

using namespace vk::dialogtest;
using vk::tasks::ConfigForm;
using vk::tasks::GetFileNameForm;
using vk::tasks::TConfigForm;
using vk::tasks::TGetFileNameForm;
using vk::tasks::TSet;
using vk::tasks::TSetsForm;

class SetsFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vk::win::App().Initialize(GetModuleHandleA(nullptr));
    host_.MakeDir("Filebase");
    names_ = std::make_unique<TGetFileNameForm>(tasks_.Path());
    GetFileNameForm.form = names_.get();
    // As at the program's start: the settings dialog is made when first needed.
    ConfigForm.make = [this] {
      config_ = std::make_unique<TConfigForm>();
      return config_.get();
    };
  }
  void TearDown() override {
    form_.reset();
    ConfigForm = {};
    GetFileNameForm = {};
    vk::tasks::SetTaskRunner(nullptr);
  }

  TSetsForm& Open() {
    form_ = std::make_unique<TSetsForm>(tasks_.Path());
    form_->RefreshList();
    return *form_;
  }
  HWND List() const { return form_->Item(TSetsForm::kListView1); }
  int Rows() const { return static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0)); }
  std::string Cell(int row, int column) const {
    char text[256] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(List(), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
  }
  int RowOf(const std::string& name) const {
    for (int row = 0; row < Rows(); ++row)
      if (Cell(row, 1) == name) return row;
    return -1;
  }
  void Select(int row) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    SendMessageA(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
  }
  bool Enabled(int id) const { return IsWindowEnabled(form_->Item(id)) != FALSE; }

  // The user names a new task and then closes the settings dialog with `button`.
  static std::vector<Step> NewTaskSteps(const std::string& name, int button,
                                        const std::string& taskName = "") {
    return {
        {"Dateiname eingeben",
         [name](HWND w) {
           TypeInto(GetDlgItem(w, TGetFileNameForm::kEdit1), name);
           Press(w, IDOK);
         }},
        {"Einstellungen",
         [button, taskName](HWND w) {
           if (!taskName.empty()) TypeInto(ConfigForm.form->Control(TConfigForm::kEdit2), taskName);
           Press(w, button);
         }},
    };
  }

  TempDir host_{"host"};
  ProgDirForTest progDir_{host_.Path()};
  TempDir tasks_{"tasks"};
  std::unique_ptr<TConfigForm> config_;
  std::unique_ptr<TGetFileNameForm> names_;
  std::unique_ptr<TSetsForm> form_;
};

TEST_F(SetsFormTest, ActivateTogglesTheRowAndAbbrechenKeepsTheChange) {
  WriteBytes(tasks_ / "a.set", "\"Name=Tägliche Sicherung\",Active=1");
  WriteBytes(tasks_ / "b.set", "Name=Monatlich,Active=0");
  form_ = std::make_unique<TSetsForm>(tasks_.Path());
  std::vector<std::string> seen;
  UserScript user({{"Sicherungsaufgaben", [&](HWND w) {
                      const int daily = RowOf("Tägliche Sicherung");
                      seen.push_back(Cell(daily, 0) + "/" + Cell(RowOf("Monatlich"), 0));
                      Select(daily);
                      for (int i = 0; i < 2; ++i) {
                        const std::string before = Cell(daily, 0);
                        Click(GetDlgItem(w, TSetsForm::kBtnAkt));
                        for (int t = 0; t < 100 && Cell(daily, 0) == before; ++t) Sleep(20);
                        seen.push_back(Cell(daily, 0));
                      }
                      Click(GetDlgItem(w, TSetsForm::kBtnAkt));
                      Sleep(200);
                      Press(w, IDCANCEL);
                    }}});
  EXPECT_FALSE(form_->Execute());
  ASSERT_TRUE(user.Finished());
  EXPECT_EQ(seen, (std::vector<std::string>{"Ja/Nein", "Nein", "Ja"}));
  // The third click stays although the dialog was cancelled; only memory changed.
  TSet* task = form_->Sets()[form_->Sets()[0]->Name == "Monatlich" ? 1 : 0];
  EXPECT_EQ(task->Name, "Tägliche Sicherung");
  EXPECT_FALSE(task->Active);
  EXPECT_EQ(ReadBytes(tasks_ / "a.set"), "\"Name=Tägliche Sicherung\",Active=1");
}

TEST_F(SetsFormTest, TaskButtonsFollowTheSelectionAndDoNothingWithoutOne) {
  WriteBytes(tasks_ / "a.set", "Name=Eins,Active=1");
  Open();
  Select(0);
  for (int id : {TSetsForm::kBtnAkt, TSetsForm::kBtnEig, TSetsForm::kBtnLoe, TSetsForm::kBtnAus})
    EXPECT_TRUE(Enabled(id)) << id;
  Select(-1);
  for (int id : {TSetsForm::kBtnAkt, TSetsForm::kBtnEig, TSetsForm::kBtnLoe, TSetsForm::kBtnAus})
    EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(TSetsForm::kBtnNeu));

  // Without a selection the actions are refused, whoever calls them.
  form_->btnAktClick();
  form_->btnLoeClick();  // would otherwise ask, and the test would hang
  EXPECT_TRUE(form_->Sets()[0]->Active);
  EXPECT_EQ(Rows(), 1);
}

TEST_F(SetsFormTest, NewTaskCancelledInSettingsLeavesNoTaskAndNoFile) {
  Open();
  {
    UserScript user(NewTaskSteps("neu", IDCANCEL));
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished());
  }
  EXPECT_EQ(form_->Sets().Count(), 0);
  EXPECT_EQ(Rows(), 0);
  form_.reset();  // writes every listed task
  EXPECT_FALSE(IsFile(tasks_ / "neu.set"));
}

TEST_F(SetsFormTest, NewTaskConfirmedIsListedAndWrittenWhenTheProgramEnds) {
  WriteBytes(tasks_ / "alt.set", "Name=Alt");
  Open();
  {
    UserScript user(NewTaskSteps("Woche.txt", IDOK, "Wochensicherung"));
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished());
  }
  ASSERT_EQ(form_->Sets().Count(), 2);
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 0), "Ja");
  EXPECT_EQ(Cell(1, 1), "Wochensicherung");
  EXPECT_EQ(form_->Sets()[1]->FileName, tasks_ / "Woche.set");
  EXPECT_FALSE(IsFile(tasks_ / "Woche.set"));

  form_.reset();
  const std::string text = ReadBytes(tasks_ / "Woche.set");
  EXPECT_EQ(text.rfind("Name=Wochensicherung,Active=1,", 0), 0u) << text;
  // The loaded task was written back in full.
  EXPECT_NE(ReadBytes(tasks_ / "alt.set").find("SaveFiles=1"), std::string::npos);
}

TEST_F(SetsFormTest, NameOfAnExistingFileKeepsTheNameDialogOpen) {
  WriteBytes(tasks_ / "alt.set", "Name=Alt");
  Open();
  std::string kept;
  {
    UserScript user({
        {"Dateiname eingeben",
         [](HWND w) {
           TypeInto(GetDlgItem(w, TGetFileNameForm::kEdit1), "ALT");
           Press(w, IDOK);
         },
         /*waitGone=*/false},
        Box("Information", IDOK),
        {"Dateiname eingeben",
         [&kept](HWND w) {
           kept = WindowText(GetDlgItem(w, TGetFileNameForm::kEdit1));
           Press(w, IDCANCEL);
         }},
    });
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished());
    ASSERT_EQ(user.BoxTexts().size(), 1u);
    EXPECT_EQ(user.BoxTexts()[0],
              "Diese Datei existiert bereits, bitte geben Sie einen anderen Dateinamen an!");
  }
  EXPECT_EQ(kept, "ALT");
  EXPECT_EQ(form_->Sets().Count(), 1);
}

TEST_F(SetsFormTest, NameOfATaskNotWrittenYetIsTakenToo) {
  Open();
  {
    UserScript user(NewTaskSteps("erste", IDOK));
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished());
  }
  ASSERT_EQ(form_->Sets().Count(), 1);
  {
    UserScript user({
        {"Dateiname eingeben",
         [](HWND w) {
           TypeInto(GetDlgItem(w, TGetFileNameForm::kEdit1), "Erste.set");
           Press(w, IDOK);
         },
         /*waitGone=*/false},
        Box("Information", IDOK),
        {"Dateiname eingeben", [](HWND w) { Press(w, IDCANCEL); }},
    });
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished());
  }
  EXPECT_EQ(form_->Sets().Count(), 1);
}

TEST_F(SetsFormTest, NamesThatCannotBeATaskFileAreRefused) {
  Open();
  for (const std::string name : {"", "..\\ausserhalb", "unter\\datei", "nul", "a?b"}) {
    UserScript user({
        {"Dateiname eingeben",
         [name](HWND w) {
           TypeInto(GetDlgItem(w, TGetFileNameForm::kEdit1), name);
           Press(w, IDOK);
         },
         /*waitGone=*/false},
        Box("Information", IDOK),
        {"Dateiname eingeben", [](HWND w) { Press(w, IDCANCEL); }},
    });
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished()) << name;
    ASSERT_EQ(user.BoxTexts().size(), 1u);
    EXPECT_EQ(user.BoxTexts()[0], "Ungültiger Dateiname - " + vk::tasks::WithSetExtension(name));
  }
  EXPECT_EQ(form_->Sets().Count(), 0);
}

TEST_F(SetsFormTest, GetFileNameGivesTheSetExtension) {
  const struct {
    const char* typed;
    const char* name;
  } cases[] = {
      {"woche", "woche.set"},          {"woche.txt", "woche.set"}, {"woche.set", "woche.set"},
      {"a.b.zip", "a.b.set"},          {"ende.", "ende.set"},      {"Tägliche Sicherung", "Tägliche Sicherung.set"},
  };
  for (const auto& c : cases) {
    SetWindowTextA(names_->Item(TGetFileNameForm::kEdit1), c.typed);
    EXPECT_EQ(names_->GetFileName(), c.name) << c.typed;
  }
}

TEST_F(SetsFormTest, DeleteRemovesRowAndFileAfterConfirmation) {
  WriteBytes(tasks_ / "a.set", "Name=Weg");
  WriteBytes(tasks_ / "b.set", "Name=Bleibt");
  Open();
  Select(RowOf("Weg"));
  {
    UserScript user({Box("Bestätigen", IDNO)});
    form_->btnLoeClick();
    ASSERT_TRUE(user.Finished());
    EXPECT_EQ(user.BoxTexts(), std::vector<std::string>{"Aufgabe wirklich löschen?"});
  }
  EXPECT_EQ(Rows(), 2);
  EXPECT_TRUE(IsFile(tasks_ / "a.set"));

  Select(RowOf("Weg"));
  {
    UserScript user({Box("Bestätigen", IDYES)});
    form_->btnLoeClick();
    ASSERT_TRUE(user.Finished());
  }
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(RowOf("Weg"), -1);
  EXPECT_EQ(form_->Sets().Count(), 1);
  EXPECT_FALSE(IsFile(tasks_ / "a.set"));

  // Gone for good: not written back at the end, not loaded next time.
  form_.reset();
  EXPECT_FALSE(IsFile(tasks_ / "a.set"));
  Open();
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(Cell(0, 1), "Bleibt");
}

TEST_F(SetsFormTest, DeletingATaskWithoutFileIsRefusedWithTheFileName) {
  Open();
  {
    UserScript user(NewTaskSteps("frisch", IDOK, "Frisch"));
    form_->btnNeuClick();
    ASSERT_TRUE(user.Finished());
  }
  Select(RowOf("Frisch"));
  {
    UserScript user({Box("Bestätigen", IDYES), Box("Information", IDOK)});
    form_->btnLoeClick();
    ASSERT_TRUE(user.Finished());
    ASSERT_EQ(user.BoxTexts().size(), 2u);
    EXPECT_EQ(user.BoxTexts()[1], "Datei \"" + (tasks_ / "frisch.set") +
                                      "\" konnte nicht gelöscht werden. Aufgabe kann nicht "
                                      "gelöscht werden.");
  }
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(form_->Sets().Count(), 1);
}

TEST_F(SetsFormTest, PropertiesCancelKeepsTheTaskAndOkShowsTheNewName) {
  WriteBytes(tasks_ / "a.set", "Name=Vorher");
  Open();
  Select(0);
  {
    UserScript user({{"Einstellungen", [](HWND w) {
                        TypeInto(ConfigForm.form->Control(TConfigForm::kEdit2), "Verworfen");
                        Press(w, IDCANCEL);
                      }}});
    form_->btnEigClick();
    ASSERT_TRUE(user.Finished());
  }
  EXPECT_EQ(form_->Sets()[0]->Name, "Vorher");
  EXPECT_EQ(Cell(0, 1), "Vorher");
  {
    UserScript user({{"Einstellungen", [](HWND w) {
                        TypeInto(ConfigForm.form->Control(TConfigForm::kEdit2), "Nachher");
                        Press(w, IDOK);
                      }}});
    form_->btnEigClick();
    ASSERT_TRUE(user.Finished());
  }
  EXPECT_EQ(form_->Sets()[0]->Name, "Nachher");
  EXPECT_EQ(Cell(0, 1), "Nachher");
  EXPECT_EQ(ReadBytes(tasks_ / "a.set"), "Name=Vorher");
}

TEST_F(SetsFormTest, RunFollowsTheAutomaticModeAndSavesTheTask) {
  WriteBytes(tasks_ / "a.set", "Name=Nie,AutoMode=1");
  WriteBytes(tasks_ / "b.set", "Name=Immer,AutoMode=3,Active=0");
  int runs = 0;
  std::string ran;
  bool toggledDuringRun = false;
  vk::tasks::SetTaskRunner([&](TSet& task) {
    ++runs;
    ran = task.Name;
    // A click that reaches the dialog while the task runs changes nothing.
    const bool before = task.Active;
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(TSetsForm::kBtnAkt, BN_CLICKED),
                 reinterpret_cast<LPARAM>(form_->Item(TSetsForm::kBtnAkt)));
    toggledDuringRun = task.Active != before;
    return true;
  });
  Open();
  Select(RowOf("Nie"));
  form_->btnAusClick();
  EXPECT_EQ(runs, 0);
  EXPECT_NE(ReadBytes(tasks_ / "a.set").find("AutoDays=7"), std::string::npos);

  Select(RowOf("Immer"));
  form_->btnAusClick();  // runs although inactive
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ran, "Immer");
  EXPECT_FALSE(toggledDuringRun);  // nobody changes or deletes the task while it runs
  EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
  form_->btnAktClick();
  EXPECT_TRUE(form_->Sets()[RowOf("Immer")]->Active);  // and afterwards the dialog works again
}

}  // namespace
