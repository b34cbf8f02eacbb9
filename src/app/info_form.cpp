#include "app/info_form.h"

#include "res/version.h"

namespace vk::app {

win::FormWhenNeeded<TInfoForm> InfoForm;

namespace {

constexpr int kTitle = 101, kDescription = 102, kCopyright = 103, kThanks = 104, kUpdates = 105;

const win::ControlSpec kControls[] = {
    {"STATIC", "Vaultkin Beta 4", kTitle, 128, 16, 185, 20, SS_LEFT | SS_NOPREFIX},
    {"STATIC",
     "Ein Kestrone 95-Plugin zur Sicherung des Kestrone-Verzeichnisses und "
     "-Registrierungseinträgen.",
     kDescription, 128, 44, 185, 57, SS_LEFT | SS_NOPREFIX},
    {"STATIC", VK_COPYRIGHT, kCopyright, 128, 104, 185, 21, SS_LEFT | SS_NOPREFIX},
    {"STATIC",
     "Vielen Dank an Karin Albers für ihre Fehlerberichte und Ideen.",
     kThanks, 12, 128, 301, 29, SS_LEFT | SS_NOPREFIX},
    {"STATIC", "", TInfoForm::kIcon, 280, 16, 32, 32, SS_ICON},
    {"STATIC", "Neueste Updates aus dem Internet:", kUpdates, 12, 160, 175, 14, SS_LEFT},
    {"STATIC", VK_WEB_ADDRESS, TInfoForm::kLink, 188, 160, 127, 14, SS_LEFT | SS_NOTIFY | SS_NOPREFIX},
    {"STATIC", "", TInfoForm::kPicture, 12, 16, 102, 102, SS_BITMAP | SS_CENTERIMAGE | SS_SUNKEN},
    {"BUTTON", "OK", TInfoForm::kOk, 124, 188, 75, 23, WS_TABSTOP | BS_DEFPUSHBUTTON},
};

HBITMAP StretchedSplash() {
  static HBITMAP stretched = nullptr;
  if (stretched) return stretched;
  HBITMAP source = win::LoadBitmapResource("SPLASH");
  if (!source) return nullptr;
  HDC screen = GetDC(nullptr);
  HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
  stretched = CreateCompatibleBitmap(screen, 100, 100);
  HGDIOBJ oldFrom = SelectObject(from, source), oldTo = SelectObject(to, stretched);
  SetStretchBltMode(to, HALFTONE);
  StretchBlt(to, 0, 0, 100, 100, from, 0, 0, 172, 180, SRCCOPY);
  SelectObject(from, oldFrom);
  SelectObject(to, oldTo);
  DeleteDC(from);
  DeleteDC(to);
  ReleaseDC(nullptr, screen);
  return stretched;
}

HFONT UnderlinedFont() {
  static HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, ANSI_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, "Arial");
  return font;
}

}  // namespace

TInfoForm::TInfoForm() {
  CreateForm("Info", 323, 221);
  AddControls(kControls);
  SendMessageA(Item(kTitle), WM_SETFONT, reinterpret_cast<WPARAM>(ArialFont(16, true)), FALSE);
  SendMessageA(Item(kLink), WM_SETFONT, reinterpret_cast<WPARAM>(UnderlinedFont()), FALSE);
  SendMessageA(Item(kIcon), STM_SETICON,
               reinterpret_cast<WPARAM>(win::LoadIconResource("MAINICON", 32)), 0);
  SendMessageA(Item(kPicture), STM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(StretchedSplash()));
  WebLink1.Url = VK_WEB_ADDRESS;
  WebLink1.EMail = VK_MAIL_ADDRESS;
}

int TInfoForm::Execute() {
  if (InModal()) {  // asked again while open (a host command): it is already there
    SetForegroundWindow(Handle());
    return 0;
  }
  return ShowModal();
}

void TInfoForm::Label6Click() {
  WebLink1.OpenUrl();  // nothing registered: the click does nothing
}

void TInfoForm::OnCommand(int id, int notifyCode, HWND control) {
  if (id == kLink && notifyCode == STN_CLICKED) {
    Label6Click();
    return;
  }
  Form::OnCommand(id, notifyCode, control);
}

LRESULT TInfoForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == Item(kLink)) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, RGB(0, 0, 255));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  if (msg == WM_SETCURSOR && reinterpret_cast<HWND>(wParam) == Item(kLink)) {
    SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
    return TRUE;
  }
  return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace vk::app
