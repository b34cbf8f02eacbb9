#pragma once
// One way to wrap a top-level window: `Form` stores `this` at WM_NCCREATE, forwards
// every message to `HandleMessage`, and offers the modal loop that `Execute`
// operations build on. Windows are created once, hidden, and reused.
#include <windows.h>

#include <functional>
#include <string>

namespace vk::win {

// One child control, laid out in pixels of the client area.
struct ControlSpec {
  const char* className;  // "BUTTON", "STATIC", "EDIT", WC_LISTVIEWA, ...
  const char* text;
  int id;
  int x, y, width, height;
  DWORD style;            // WS_CHILD | WS_VISIBLE are always added
  DWORD exStyle = 0;
};

class Form {
 public:
  Form();
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  HWND Handle() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  // Creates the hidden window: a fixed-size frame around a client area of the
  // given size, centred on the screen.
  static constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  void CreateForm(const std::string& caption, int clientWidth, int clientHeight,
                  DWORD style = kDialogStyle, DWORD exStyle = WS_EX_DLGMODALFRAME);
  HWND AddControl(const ControlSpec& spec);
  template <size_t N>
  void AddControls(const ControlSpec (&specs)[N]) {
    for (const ControlSpec& s : specs) AddControl(s);
  }

  // The form's font (Arial, 8 point: 11 pixels high, ANSI character set).
  static HFONT DefaultFont();
  // A bold or otherwise sized Arial, kept for the life of the program.
  static HFONT ArialFont(int pixelHeight, bool bold);

  void Show();
  void Hide();
  bool Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }
  void CenterOnScreen();
  void Repaint();  // draws at once, before the message loop runs

  // Shows the form modally: every other window of the application is disabled
  // until a modal result is set. A quit request that arrives meanwhile closes the
  // form as if cancelled (and the program then ends).
  int ShowModal();
  bool InModal() const { return inModal_; }
  void SetModalResult(int result) { modalResult_ = result; }
  int ModalResult() const { return modalResult_; }

  // Closes the form: a modal form with the cancel result, the main form ends the
  // program, any other is hidden.
  void Close();

  void SetItemText(int id, const std::string& text);
  std::string ItemText(int id) const;
  void EnableItem(int id, bool enabled);
  void ShowItem(int id, bool visible);
  bool Checked(int id) const;
  void SetChecked(int id, bool checked);

 protected:
  // Default handling: buttons with IDOK / IDCANCEL set that modal result, WM_CLOSE
  // calls Close(), labels get the form's background.
  virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // WM_COMMAND from a control or a menu.
  virtual void OnCommand(int id, int notifyCode, HWND control);
  // WM_NOTIFY from a common control.
  virtual LRESULT OnNotify(NMHDR* header) { return 0; }
  LRESULT DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
  int modalResult_ = 0;
  bool inModal_ = false;
};

// A form that a background backup never shows, made when it is first needed: each
// window made at the start delays the backup that the host's start begins.
template <class F>
struct FormWhenNeeded {
  F* form = nullptr;         // made, or set by whoever owns it
  std::function<F*()> make;  // makes it and keeps it; unset: there is none
  F* Now() {
    if (!form && make) form = make();
    return form;
  }
};

// Loads a bitmap or icon resource by name, owned for the life of the program.
HBITMAP LoadBitmapResource(const char* name);
HICON LoadIconResource(const char* name, int size);

}  // namespace vk::win
