#pragma once
// A restore of chosen folders. The restore's open dialog carries the check box "Nur
// ausgewählte Ordner zurückschreiben"; when it is ticked, TRestoreChoiceForm shows the
// archive's folders in a tree with check boxes, as the settings dialog shows the
// installation's, and a check box for the registry data. The usual restore takes no
// click more than before.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "core/restore_choice.h"
#include "win/form.h"

namespace vk::backup {

// Adds the check box to an open dialog (an Explorer-style one) for the life of this
// object; after GetOpenFileNameA returned true, Checked() says whether it was ticked.
class ChoiceCheckBox {
 public:
  explicit ChoiceCheckBox(OPENFILENAMEA* ofn);
  bool Checked() const { return checked_; }

  static constexpr int kId = 1200;

 private:
  static UINT_PTR CALLBACK Hook(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
  std::vector<WORD> template_;
  bool checked_ = false;
};

class TRestoreChoiceForm : public win::Form {
 public:
  TRestoreChoiceForm();

  // Shows the folders (from the archive's entry names, "" the top level) below the host
  // directory, all ticked, and the registry check box, ticked and usable when the
  // archive holds the registry file. True on OK, with the choice in `selection`;
  // false on "Abbrechen", `selection` untouched.
  bool Execute(const std::vector<std::u16string>& folders, bool hasRegistry, const std::string& hostDir,
               RestoreSelection* selection);

  // The check box on the node, and with it those of all folders below it.
  void Toggle(HTREEITEM node);
  // What OK would yield now.
  RestoreSelection Selection() const;

  HWND Tree() const { return Item(kTree); }

  enum { kImage = 100, kLabel, kTree, kRegistry, kBevel, kButtonCancel = IDCANCEL, kButtonOK = IDOK };

 protected:
  void OnCommand(int id, int notifyCode, HWND control) override;
  LRESULT OnNotify(NMHDR* header) override;

 private:
  static LRESULT CALLBACK TreeProc(HWND tree, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR form);
  // OK needs something to restore.
  void UpdateOK();

  std::vector<std::u16string> folders_;  // a node's data is its index here
  bool hasRegistry_ = false;
};

// The whole choice for one archive: reads its folders, runs the dialog. False when
// the user cancelled. A damaged archive raises vk::EZipDirError.
bool ChooseRestore(const std::string& archive, const std::string& hostDir, RestoreSelection* selection);

// The names of the archive's entries as the extractor reads and matches them.
std::vector<std::u16string> ArchiveEntryNames(const std::string& archive);
// The specifications that make the extractor write exactly the chosen entries; empty
// when none is chosen.
std::vector<std::string> RestoreSpecArgs(const std::string& archive, const RestoreSelection& selection);

}  // namespace vk::backup
