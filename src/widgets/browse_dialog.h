#pragma once
// TBrowseDialog lets the user pick a folder in the shell's folder browser and hands
// back its file-system path. The dialog is modal over the whole application.
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>

namespace vk::widgets {

enum class TBrowseOption {
  biBrowseForComputer,  // BIF_BROWSEFORCOMPUTER
  biBrowseForPrinter,   // BIF_BROWSEFORPRINTER
  biDontGoBelowDomain,  // BIF_DONTGOBELOWDOMAIN
  biReturnFSAncestors,  // BIF_RETURNFSANCESTORS
  biReturnOnlyFSDirs,   // BIF_RETURNONLYFSDIRS
  biStatusText,         // BIF_STATUSTEXT
};

// A set of TBrowseOption.
class TBrowseOptions {
 public:
  TBrowseOptions() = default;
  TBrowseOptions(std::initializer_list<TBrowseOption> options) {
    for (TBrowseOption o : options) Include(o);
  }
  void Include(TBrowseOption o) { bits_ |= Bit(o); }
  void Exclude(TBrowseOption o) { bits_ &= ~Bit(o); }
  bool Contains(TBrowseOption o) const { return (bits_ & Bit(o)) != 0; }
  // The shell's BIF_ flags of the members.
  UINT ShellFlags() const;

 private:
  static unsigned Bit(TBrowseOption o) { return 1u << static_cast<unsigned>(o); }
  unsigned bits_ = 0;
};

enum class TOKButtonState { Unchanged, Enable, Disable };

class TBrowseDialog;

// Raised with the shell dialog's window and the path of the selected folder (empty
// when it has none); the handler may set a status text and switch the OK button.
using TBrowseDialogEvent =
    std::function<void(TBrowseDialog& sender, HWND wnd, const std::string& path,
                       std::string& showText, TOKButtonState& okButtonState)>;

class TBrowseDialog {
 public:
  // Before Execute the folder to preselect; after a successful one the chosen path.
  std::string Directory;
  std::string Caption;  // the text above the tree
  std::string Root;     // the top of the tree; empty or unknown: the desktop
  TBrowseOptions Options{TBrowseOption::biReturnOnlyFSDirs};
  TBrowseDialogEvent OnInitialized;
  TBrowseDialogEvent OnSelectionChanged;

  TBrowseDialog() = default;
  virtual ~TBrowseDialog() = default;
  TBrowseDialog(const TBrowseDialog&) = delete;
  TBrowseDialog& operator=(const TBrowseDialog&) = delete;

  // Hook on the application's main window while the dialog runs; lets all pass.
  virtual bool MessageHook(MSG& msg) { return false; }
  // True when the user chose an item: Directory is then its path, or empty for an
  // item without one (a computer, a printer). False on cancel, or when the shell's
  // allocator is not available; Directory stays as it was then.
  virtual bool Execute();

  // The display name of the item chosen last.
  const std::string& DisplayName() const { return displayName_; }

 private:
  static int CALLBACK Notify(HWND wnd, UINT msg, LPARAM param, LPARAM data);
  void HandleNotification(HWND wnd, UINT msg, LPARAM param);

  std::string displayName_;
};

}  // namespace vk::widgets
