#include "tasks/getfname_form.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/comma_list.h"
#include "win/msgbox.h"

namespace vk::tasks {

win::FormWhenNeeded<TGetFileNameForm> GetFileNameForm;

namespace {

const win::ControlSpec kControls[] = {
    {"STATIC", "Bitte geben Sie einen Dateinamen für die neue Sicherungsaufgabe an.",
     TGetFileNameForm::kLabel1, 8, 8, 252, 29, SS_LEFT | SS_NOPREFIX},
    {"EDIT", "", TGetFileNameForm::kEdit1, 8, 44, 252, 21,
     WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {"BUTTON", "Abbrechen", TGetFileNameForm::kButton1, 104, 82, 75, 23,
     WS_TABSTOP | BS_PUSHBUTTON},
    {"BUTTON", "OK", TGetFileNameForm::kButton2, 186, 82, 75, 23, WS_TABSTOP | BS_DEFPUSHBUTTON},
};

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::string WithSetExtension(const std::string& name) {
  const size_t p = name.find_last_of(".\\:");
  if (p != std::string::npos && name[p] == '.') return name.substr(0, p) + ".set";
  return name + ".set";
}

bool IsPlainFileName(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const std::string stem = name.substr(0, dot);
  if (stem.empty()) return false;
  for (unsigned char c : name)
    if (c < 32 || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
      return false;
  // Names of devices stay devices whatever their extension ("NUL.set" is no file).
  std::string base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3",
                                         "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1",
                                         "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8",
                                         "LPT9"};
  return std::none_of(std::begin(kDevices), std::end(kDevices),
                      [&](const char* device) { return SameTextAnsi(base, device); });
}

TGetFileNameForm::TGetFileNameForm(std::string folder) : folder_(std::move(folder)) {
  CreateForm("Dateiname eingeben", 268, 115);
  AddControls(kControls);
}

bool TGetFileNameForm::Execute() {
  if (InModal()) return false;
  SetItemText(kEdit1, "");
  focus_.Set(Item(kEdit1));
  SetFocus(Item(kEdit1));
  return ShowModal() == IDOK;
}

std::string TGetFileNameForm::GetFileName() const { return WithSetExtension(ItemText(kEdit1)); }

void TGetFileNameForm::Button2Click() {
  const std::string name = GetFileName();
  // A name with a folder part or one Windows cannot store would be written where
  // the task list never looks again, and the task would be lost.
  if (!IsPlainFileName(name)) {
    win::ShowInformation("Ungültiger Dateiname - " + name);
  } else if (FileExists(folder_ + "\\" + name) || (NameInUse && NameInUse(name))) {
    win::ShowInformation(
        "Diese Datei existiert bereits, bitte geben Sie einen anderen Dateinamen an!");
  } else {
    SetModalResult(IDOK);
    return;
  }
  SetFocus(Item(kEdit1));
  SendMessageA(Item(kEdit1), EM_SETSEL, 0, -1);
}

void TGetFileNameForm::OnCommand(int id, int notifyCode, HWND control) {
  if (id == kButton2 && notifyCode == BN_CLICKED) {
    if (InModal()) Button2Click();
    return;
  }
  Form::OnCommand(id, notifyCode, control);
}

LRESULT TGetFileNameForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ACTIVATE && focus_.OnActivate(Handle(), wParam)) return 0;
  return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace vk::tasks
