#pragma once
// TSetsForm lists the backup tasks and lets the user switch them on and off, edit,
// create, delete and run them. Its window object owns the task list for the whole
// run of the program: made, it loads every task file; destroyed, it writes them all.
#include <memory>
#include <string>

#include "tasks/dialog_focus.h"
#include "tasks/sets.h"
#include "win/form.h"

namespace vk::tasks {

class TSetsForm : public win::Form {
 public:
  // FormCreate: loads the tasks of `folder` (the program's task folder, TaskFolder()).
  explicit TSetsForm(const std::string& folder = TaskFolder());
  // FormDestroy: destroys the task list, which writes every task file.
  ~TSetsForm() override;

  TSets& Sets() { return *sets_; }

  // Rebuilds the list, shows the dialog modally; true when it was closed with OK.
  // False at once when the dialog is open already.
  bool Execute();
  // One row per task, in the order of the task list.
  void RefreshList();
  // Row `row` shows the task ("Ja"/"Nein", its name) and refers to it.
  void ShowTask(int row, TSet* task);
  // The task of the selected row, or null.
  TSet* SelectedTask() const;

  void btnAktClick();
  void btnEigClick();
  void btnNeuClick();
  void btnLoeClick();
  void btnAusClick();  // the window is disabled while the task runs

  enum {
    kImage1 = 101, kLabel1, kListView1, kBtnAkt, kBtnEig, kBtnLoe, kBtnAus, kBtnNeu,
    kBtnAbb = IDCANCEL, kBtnOK = IDOK,
    // PopupMenu1's entries.
    kMenuAktiv = 201, kMenuEigenschaften, kMenuLoeschen, kMenuAusfuehren, kMenuNeu,
  };

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(int id, int notifyCode, HWND control) override;
  LRESULT OnNotify(NMHDR* header) override;

 private:
  HWND List() const { return Item(kListView1); }
  int SelectedRow() const;
  int AddRow(TSet* task);
  void SizeColumns();
  void ListView1Change();
  void ShowPopup(int x, int y);

  std::string folder_;
  std::unique_ptr<TSets> sets_;
  HMENU popupMenu1_ = nullptr;
  FocusMemory focus_;
};

extern TSetsForm* SetsForm;

}  // namespace vk::tasks
