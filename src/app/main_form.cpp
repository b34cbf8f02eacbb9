#include "app/main_form.h"

#include "res/resource_ids.h"
#include "win/application.h"
#include "res/version.h"

namespace vk::app {

TMainForm* MainForm = nullptr;

namespace {

// The large buttons take no part in tabbing: Tab moves between Info and Close only.
constexpr DWORD kPictureButton = BS_OWNERDRAW;

const win::ControlSpec kControls[] = {
    {"STATIC", "", TMainForm::kDescription, 80, 12, 289, 45, SS_LEFT | SS_NOPREFIX},
    {"BUTTON", "", TMainForm::kBackup, 8, 84, 169, 48, kPictureButton},
    {"BUTTON", "", TMainForm::kRestore, 184, 84, 197, 48, kPictureButton},
    {"BUTTON", "", TMainForm::kSettings, 8, 140, 169, 48, kPictureButton},
    {"STATIC", VK_COPYRIGHT, TMainForm::kCopyright, 80, 60, 289, 14, SS_LEFT | SS_NOPREFIX},
    {"BUTTON", "Info...", TMainForm::kInfo, 224, 164, 75, 23, WS_TABSTOP | BS_PUSHBUTTON},
    {"STATIC", "", TMainForm::kPictureFrame, 8, 12, 59, 62, SS_SUNKEN},
    {"STATIC", "", TMainForm::kPicture, 9, 13, 57, 60, SS_BITMAP},
    {"BUTTON", "", TMainForm::kClose, 304, 164, 75, 23, WS_TABSTOP | BS_PUSHBUTTON},
};

std::string LoadText(UINT id) {
  char buffer[512];
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace

TMainForm::TMainForm() {
  CreateForm("Vaultkin", 390, 201, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
             WS_EX_APPWINDOW);
  SetWindowPos(Handle(), nullptr, 200, 110, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  AddControls(kControls);
  SendMessageA(Item(kPicture), STM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(win::LoadBitmapResource("MAINPIC")));
  // Tab order: Info first, then Close.
  SetWindowPos(Item(kInfo), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  FormCreate();
  Placement1 = std::make_unique<widgets::TPlacementKeeper>(Handle());
  Placement1->IniFileName = "\\Software\\Morrow Tools\\Vaultkin";
  Placement1->IniSection = "Pos";
  Placement1->UseRegistry = true;
  Placement1->SetPreventResize(true);
}

void TMainForm::FormCreate() {
  SetItemText(kDescription, LoadText(IDS_MAIN_DESCRIPTION));
  SetItemText(kBackup, LoadText(IDS_MAIN_BACKUP));
  SetItemText(kRestore, LoadText(IDS_MAIN_RESTORE));
  SetItemText(kSettings, LoadText(IDS_MAIN_SETTINGS));
  SetItemText(kClose, LoadText(IDS_MAIN_CLOSE));
}

void TMainForm::OnCommand(int id, int notifyCode, HWND control) {
  // While a run lasts the window is disabled; a click that reaches it anyway
  // (sent to the button directly) does nothing either.
  if (notifyCode != BN_CLICKED || win::App().Busy()) return;
  switch (id) {
    case kBackup: if (onBackup) onBackup(); break;
    case kRestore: if (onRestore) onRestore(); break;
    case kSettings: if (onSettings) onSettings(); break;
    case kInfo: if (onInfo) onInfo(); break;
    case kClose: SendMessageA(Handle(), WM_CLOSE, 0, 0); break;  // as the close box does
  }
}

void TMainForm::DrawPictureButton(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  bool pressed = item.itemState & ODS_SELECTED;
  if (pressed) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  else if (item.itemState & ODS_FOCUS) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);

  char text[128];
  int n = GetWindowTextA(item.hwndItem, text, sizeof text);
  const char* picture = item.CtlID == kBackup ? "BTN_BACKUP"
                        : item.CtlID == kRestore ? "BTN_RESTORE" : "BTN_SETTINGS";
  bool pictureLeft = item.CtlID == kRestore;
  HGDIOBJ oldFont = SelectObject(dc, DefaultFont());
  SIZE extent = {};
  GetTextExtentPoint32A(dc, text, n, &extent);
  const int pictureSize = 32, spacing = 4;
  int total = pictureSize + spacing + extent.cx;
  int x = (r.right - r.left - total) / 2 + (pressed ? 1 : 0);
  int y = (r.bottom - r.top) / 2 + (pressed ? 1 : 0);
  int pictureX = pictureLeft ? x : x + extent.cx + spacing;
  int textX = pictureLeft ? x + pictureSize + spacing : x;
  if (HBITMAP bitmap = win::LoadBitmapResource(picture)) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // The pictures' grey corner stands for the button face.
    TransparentBlt(dc, pictureX, y - pictureSize / 2, pictureSize, pictureSize, memory, 0, 0,
                   pictureSize, pictureSize, RGB(192, 192, 192));
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  TextOutA(dc, textX, y - extent.cy / 2, text, n);
  SelectObject(dc, oldFont);
}

LRESULT TMainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DRAWITEM) {
    DrawPictureButton(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
    return TRUE;
  }
  return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace vk::app
