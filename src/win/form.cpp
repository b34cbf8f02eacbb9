#include "win/form.h"

#include <map>
#include <utility>
#include <vector>

#include "win/application.h"

namespace vk::win {
namespace {

constexpr char kFormClass[] = "VaultkinForm";

void RegisterFormClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = App().Module() ? App().Module() : GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.hIcon = LoadIconA(wc.hInstance, "MAINICON");
  wc.lpszClassName = kFormClass;
  registered = RegisterClassExA(&wc) != 0;
}

}  // namespace

Form::Form() = default;

Form::~Form() {
  if (hwnd_) {
    App().UnregisterForm(this);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

HFONT Form::DefaultFont() { return ArialFont(11, false); }

HFONT Form::ArialFont(int pixelHeight, bool bold) {
  static std::map<std::pair<int, bool>, HFONT> fonts;
  HFONT& font = fonts[{pixelHeight, bold}];
  if (!font)
    font = CreateFontA(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, "Arial");
  return font;
}

void Form::CreateForm(const std::string& caption, int clientWidth, int clientHeight, DWORD style,
                      DWORD exStyle) {
  RegisterFormClass(&Form::WindowProc);
  RECT r = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  HINSTANCE module = App().Module() ? App().Module() : GetModuleHandleA(nullptr);
  CreateWindowExA(exStyle, kFormClass, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                  r.right - r.left, r.bottom - r.top, nullptr, nullptr, module, this);
  if (!hwnd_) return;
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
  CenterOnScreen();
  App().RegisterForm(this);
}

HWND Form::AddControl(const ControlSpec& spec) {
  HWND control = CreateWindowExA(spec.exStyle, spec.className, spec.text,
                                 WS_CHILD | WS_VISIBLE | spec.style, spec.x, spec.y, spec.width,
                                 spec.height, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                                 GetModuleHandleA(nullptr), nullptr);
  if (control) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
  return control;
}

void Form::Show() {
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void Form::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void Form::CenterOnScreen() {
  RECT r;
  GetWindowRect(hwnd_, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::Repaint() {
  InvalidateRect(hwnd_, nullptr, TRUE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int Form::ShowModal() {
  const std::vector<HWND> others = DisableOtherWindows(hwnd_);
  HWND previous = GetActiveWindow();

  modalResult_ = 0;
  inModal_ = true;
  EnableWindow(hwnd_, TRUE);
  Show();
  while (modalResult_ == 0) {
    if (App().Terminated() || !App().HandleOneMessage()) modalResult_ = IDCANCEL;
  }
  inModal_ = false;
  EnableWindows(others);
  Hide();
  if (previous && IsWindow(previous) && IsWindowVisible(previous)) SetActiveWindow(previous);
  return modalResult_;
}

void Form::Close() {
  if (inModal_) {
    modalResult_ = IDCANCEL;
  } else if (App().MainForm() == this) {
    Hide();
    App().Terminate();
  } else {
    Hide();
  }
}

void Form::SetItemText(int id, const std::string& text) { SetDlgItemTextA(hwnd_, id, text.c_str()); }

std::string Form::ItemText(int id) const {
  HWND item = Item(id);
  int n = GetWindowTextLengthA(item);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  n = GetWindowTextA(item, text.data(), n + 1);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

void Form::EnableItem(int id, bool enabled) { EnableWindow(Item(id), enabled); }

void Form::ShowItem(int id, bool visible) { ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE); }

bool Form::Checked(int id) const {
  return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form::SetChecked(int id, bool checked) {
  SendMessageA(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Form::OnCommand(int id, int notifyCode, HWND control) {
  if ((id == IDOK || id == IDCANCEL) && notifyCode == BN_CLICKED && inModal_) SetModalResult(id);
}

LRESULT Form::DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

LRESULT Form::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CLOSE:
      Close();
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      return DefaultHandler(msg, wParam, lParam);
  }
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* form = static_cast<Form*>(create->lpCreateParams);
    form->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* self = reinterpret_cast<Form*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  bool handled = false;
  App().Guard([&] {
    result = self->HandleMessage(msg, wParam, lParam);
    handled = true;
  });
  return handled ? result : 0;
}

HBITMAP LoadBitmapResource(const char* name) {
  static std::map<std::string, HBITMAP> cache;
  HBITMAP& bitmap = cache[name];
  if (!bitmap)
    bitmap = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  return bitmap;
}

HICON LoadIconResource(const char* name, int size) {
  static std::map<std::pair<std::string, int>, HICON> cache;
  HICON& icon = cache[{name, size}];
  if (!icon)
    icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, size, size, 0));
  return icon;
}

}  // namespace vk::win
