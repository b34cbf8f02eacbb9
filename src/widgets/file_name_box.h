#pragma once
// An edit box with a small button at its right end (TButtonEdit); one that takes
// files dropped from the shell and asks before and after its dialog (TPathBox); and
// one whose button opens the file-open dialog, preset from the text (TFileNameBox).
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/errors.h"

namespace vk::widgets {

// "Ungültiger Dateiname - %s"
class EButtonEditError : public Exception { using Exception::Exception; };

enum class TButtonGlyph { bgCustom, bgDefault, bgDropDown, bgEllipsis };
enum class TFileEditStyle { fsEdit, fsComboBox };

// Shortcut modifiers, as they are combined with a virtual key.
inline constexpr UINT kShortCutShift = 0x2000, kShortCutCtrl = 0x4000, kShortCutAlt = 0x8000;

class TButtonEdit {
 public:
  TButtonEdit();
  virtual ~TButtonEdit();
  TButtonEdit(const TButtonEdit&) = delete;
  TButtonEdit& operator=(const TButtonEdit&) = delete;

  void Create(HWND parent, int id, int x, int y, int width, int height = 21);
  HWND Handle() const { return hwnd_; }
  HWND Button() const { return button_; }

  std::string Text() const;
  void SetText(const std::string& text);
  void SetEnabled(bool on);

  bool AutoSelect = true;  // select all on entering, only when typing is allowed
  std::string ButtonHint;
  UINT ClickKey = kShortCutAlt | VK_DOWN;
  bool DirectInput() const { return directInput_; }
  void SetDirectInput(bool on);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool on);
  int ButtonWidth() const { return buttonWidth_; }
  void SetButtonWidth(int width);  // ignored when not smaller than the client width
  TButtonGlyph ButtonGlyph() const { return glyphKind_; }
  void SetButtonGlyph(TButtonGlyph kind);
  HBITMAP Glyph() const { return glyph_; }
  void SetGlyph(HBITMAP glyph, int numGlyphs = 1);  // switches to bgCustom; not owned

  // Where the button sits inside the box (box client coordinates).
  RECT ButtonRect() const;
  // The box is never lower than its font needs.
  int MinimumHeight() const;

  std::function<void(TButtonEdit& sender)> OnButtonClick;

 protected:
  // The button or ClickKey; nothing when ReadOnly.
  virtual void ButtonClick();
  virtual bool BoxMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual void Created() {}
  SIZE GlyphSize() const;

 private:
  static LRESULT CALLBACK BoxProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT OnBoxMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  bool IsClickKey(UINT msg, WPARAM key, LPARAM lParam) const;
  void Layout();
  void UpdateReadOnly();
  void DrawButton(const DRAWITEMSTRUCT& item);

  HWND hwnd_ = nullptr;
  HWND button_ = nullptr;
  bool directInput_ = true, readOnly_ = false, ctl3D_ = true;
  int buttonWidth_ = 21;
  TButtonGlyph glyphKind_ = TButtonGlyph::bgDefault;
  HBITMAP glyph_ = nullptr;
  int numGlyphs_ = 1;
};

class TPathBox : public TButtonEdit {
 public:
  // Runs OnBeforeDialog and OnAfterDialog with the name that goes into and comes out
  // of the dialog; setting action to false stops there.
  using TFileDialogEvent = std::function<void(TPathBox& sender, std::string& name, bool& action)>;

  TPathBox();
  bool AcceptFiles() const { return acceptFiles_; }
  void SetAcceptFiles(bool on);

  TFileDialogEvent OnBeforeDialog;
  TFileDialogEvent OnAfterDialog;
  std::function<void(TPathBox& sender)> OnDropFiles;

 protected:
  bool BoxMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Created() override;
  // A file dropped on the box.
  virtual void DroppedFile(const std::string& name) = 0;

 private:
  bool acceptFiles_ = false;
};

// The file-open dialog's options.
enum class TOpenOption {
  ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate,
  ofAllowMultiSelect, ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt,
  ofShareAware, ofNoReadOnlyReturn, ofNoTestFileCreate,
};

class TFileNameBox : public TPathBox {
 public:
  TFileNameBox();

  std::string DefaultExt;
  TFileEditStyle FileEditStyle = TFileEditStyle::fsEdit;  // kept for the older dialog
  std::string Filter = "All files (*.*)|*.*";
  int FilterIndex = 1;
  std::string InitialDir;
  std::vector<std::string> HistoryList;  // kept for the older dialog
  std::vector<TOpenOption> DialogOptions;
  std::string DialogTitle = "Browse";

  // The file name held in the text, read like a command line.
  std::string FileName() const;
  // Refuses a name with a separator character (EButtonEditError); a name with a
  // blank goes into the text in double quotes.
  void SetFileName(const std::string& value);

 protected:
  void ButtonClick() override;
  void DroppedFile(const std::string& name) override;

 private:
  DWORD DialogFlags() const;
};

}  // namespace vk::widgets
