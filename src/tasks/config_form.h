#pragma once
// TConfigForm edits one backup task on four pages: its name and active state, the
// sub-directories of the host installation it backs up, where the archive goes with
// the registry option, and when it runs by itself. The task changes only on OK; the
// dialog never writes the task's file.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "core/comma_list.h"
#include "tasks/dialog_focus.h"
#include "tasks/sets.h"
#include "widgets/browse_dialog.h"
#include "widgets/file_name_box.h"
#include "widgets/float_pages.h"
#include "win/form.h"

namespace vk::tasks {

class TConfigForm : public win::Form {
 public:
  TConfigForm();
  ~TConfigForm() override;  // FormDestroy: releases the tree's nodes

  // Fills the pages from the task, shows the dialog modally and, on OK, copies the
  // pages back into the task. False (and the task untouched) otherwise, and at once
  // for no task or while the dialog is open already.
  bool Execute(TSet* task);

  // Builds the tree of the host installation directory and ticks the directories
  // that the comma list names (compared without regard to case). No tree when no
  // host directory is known.
  void FillFolderTree(const std::string& inclDirs);
  // The comma list of the relative paths of all ticked nodes, in tree order.
  std::string GetInclDirs() const;

  // The mouse went down at (x, y) in the tree's client area: a press on a node's
  // check box ticks or unticks that node alone.
  void tvFoldersMouseDown(int x, int y);
  void CheckBox3Click();
  void RadioButton1Click();
  void Label2Click();
  void Label5Click();

  // The page shown: 0 "Allgemein", 1 "Verzeichnisse", 2 "Sicherungen", 3 "Automation".
  int ActivePage() const;
  void SetActivePage(int index);

  // The controls of the pages are not direct children of the window.
  HWND Control(int id) const;
  std::string ControlText(int id) const;
  void SetControlText(int id, const std::string& text);
  bool ControlChecked(int id) const;
  void SetControlChecked(int id, bool checked);

  // Used by the host directory question; the host directory lookup has its own.
  widgets::TBrowseDialog BrowseDialog1;
  // The four pages; they cannot be torn off.
  widgets::TFloatPageControl FloatPageControl1;
  widgets::TFloatTabSheet FloatTabSheet1, FloatTabSheet2, FloatTabSheet3, FloatTabSheet4;
  // The archive name, with the button that chooses it in a file dialog.
  widgets::TFileNameBox FileNameBox1;

  enum {
    kImage = 100, kLabelTop, kPageControl, kBevel,
    // "Allgemein"
    kLabelName = 110, kEdit2, kLabelFile, kEdit3, kCheckBox1, kLabel9,
    // "Verzeichnisse"
    kCheckBox3 = 120, kLabel3, kTvFolders,
    // "Sicherungen"
    kRadioButton1 = 130, kFileNameBox1, kFileNameButton, kRadioButton2, kCheckBox2, kEditGenerations,
    kUpDownGenerations, kLabelGenerations,
    // "Automation"
    kLabel6 = 140, kRbAuto1, kRbAuto2, kLabel2, kEdit1, kUpDown1, kLabelDays, kRbAuto3, kLabel5,
    kButtonCancel = IDCANCEL, kButtonOK = IDOK,
  };
  static constexpr int kPageCount = 4;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(int id, int notifyCode, HWND control) override;
  LRESULT OnNotify(NMHDR* header) override;

 private:
  widgets::TFloatTabSheet* Sheet(int index);
  static LRESULT CALLBACK TreeProc(HWND tree, UINT msg, WPARAM wParam, LPARAM lParam);
  HWND Tree() const { return Control(kTvFolders); }
  // Adds the node's subfolders, once, when it is first opened.
  void FillNode(HTREEITEM node);
  void ExpandNode(HTREEITEM node);
  // Opens the folders on the way to a listed directory, so that it is shown.
  void ShowListed(HTREEITEM root, const std::string& relativePath);
  HTREEITEM AddNode(HTREEITEM parent, const std::string& caption, const std::string& relativePath,
                    const StringList& inclDirs);
  void ChooseAutoMode(int id);
  int AutoDaysPosition() const;
  // An up-down control's position; a typed text that is no number in range keeps the last one.
  int32_t Position(int upDown) const;

  std::map<int, HWND> controls_;
  WNDPROC treeProc_ = nullptr;
  std::string hostDir_;  // the directory the tree shows; empty: no tree
  StringList inclDirs_;  // the ticked directories the tree was filled with
  std::set<HTREEITEM> filled_;  // nodes whose subfolders have been read
  FocusMemory focus_;
};

// Its pages are the costliest windows to make at start-up.
extern win::FormWhenNeeded<TConfigForm> ConfigForm;

}  // namespace vk::tasks
