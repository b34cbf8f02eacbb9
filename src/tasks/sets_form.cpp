#include "tasks/sets_form.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "core/comma_list.h"
#include "tasks/config_form.h"
#include "tasks/getfname_form.h"
#include "tasks/task_images.h"
#include "win/application.h"
#include "win/msgbox.h"

namespace vk::tasks {

TSetsForm* SetsForm = nullptr;

namespace {

constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;

const win::ControlSpec kControls[] = {
    {"STATIC", "", TSetsForm::kImage1, 8, 8, 32, 32, SS_BITMAP},
    {"STATIC",
     "In Vaultkin können mehrere Sicherungsaufgaben verwaltet werden. Hier sehen Sie alle "
     "aktuellen Aufträge.",
     TSetsForm::kLabel1, 48, 8, 306, 41, SS_LEFT | SS_NOPREFIX},
    {WC_LISTVIEWA, "", TSetsForm::kListView1, 8, 56, 253, 201,
     WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE},
    {"BUTTON", "Akti&vieren", TSetsForm::kBtnAkt, 276, 56, 75, 23, kButton},
    {"BUTTON", "&Eigenschaften", TSetsForm::kBtnEig, 276, 84, 75, 23, kButton},
    {"BUTTON", "&Löschen", TSetsForm::kBtnLoe, 276, 112, 75, 23, kButton},
    {"BUTTON", "&Ausführen", TSetsForm::kBtnAus, 276, 152, 75, 23, kButton},
    {"BUTTON", "&Neu...", TSetsForm::kBtnNeu, 276, 192, 75, 23, kButton},
    {"BUTTON", "Abbrechen", TSetsForm::kBtnAbb, 196, 270, 75, 23, kButton},
    {"BUTTON", "OK", TSetsForm::kBtnOK, 276, 270, 75, 23, WS_TABSTOP | BS_DEFPUSHBUTTON},
};

constexpr int kHeaderMargin = 16;  // the header's space left and right of a caption

const int kTaskButtons[] = {TSetsForm::kBtnAkt, TSetsForm::kBtnEig, TSetsForm::kBtnLoe,
                            TSetsForm::kBtnAus};

bool FileExists(const std::string& path) {
  const DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void InsertColumn(HWND list, int index, const char* caption) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<char*>(caption);
  column.cx = 50;
  column.iSubItem = index;
  SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void SetCellText(HWND list, int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

TSetsForm::TSetsForm(const std::string& folder) : folder_(folder) {
  CreateForm("Sicherungsaufgaben", 362, 303);
  AddControls(kControls);
  SendMessageA(Item(kImage1), STM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(TaskListPicture()));
  SendMessageA(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  InsertColumn(List(), 0, "Aktiv");
  InsertColumn(List(), 1, "Bezeichnung");
  SizeColumns();

  popupMenu1_ = CreatePopupMenu();
  AppendMenuA(popupMenu1_, MF_STRING | MF_CHECKED, kMenuAktiv, "Aktiv");
  AppendMenuA(popupMenu1_, MF_STRING, kMenuEigenschaften, "Eigenschaften");
  AppendMenuA(popupMenu1_, MF_STRING, kMenuLoeschen, "Löschen");
  AppendMenuA(popupMenu1_, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(popupMenu1_, MF_STRING, kMenuAusfuehren, "Ausführen");
  AppendMenuA(popupMenu1_, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(popupMenu1_, MF_STRING, kMenuNeu, "Neu...");
  SetMenuDefaultItem(popupMenu1_, kMenuEigenschaften, FALSE);

  sets_ = std::make_unique<TSets>(folder_);
}

TSetsForm::~TSetsForm() {
  sets_.reset();
  if (popupMenu1_) DestroyMenu(popupMenu1_);
}

bool TSetsForm::Execute() {
  if (InModal()) {  // asked again while open (a host command): it is already there
    SetForegroundWindow(Handle());
    return false;
  }
  focus_.Set(List());
  SetFocus(List());
  RefreshList();
  return ShowModal() == IDOK;
}

void TSetsForm::RefreshList() {
  SendMessageA(List(), WM_SETREDRAW, FALSE, 0);
  SendMessageA(List(), LVM_DELETEALLITEMS, 0, 0);
  for (const auto& task : *sets_) AddRow(task.get());
  SendMessageA(List(), WM_SETREDRAW, TRUE, 0);
  SizeColumns();
  InvalidateRect(List(), nullptr, TRUE);
}

int TSetsForm::AddRow(TSet* task) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<char*>("");
  item.lParam = reinterpret_cast<LPARAM>(task);
  const int row = static_cast<int>(SendMessageA(List(), LVM_INSERTITEMA, 0,
                                                reinterpret_cast<LPARAM>(&item)));
  if (row >= 0) ShowTask(row, task);
  return row;
}

void TSetsForm::ShowTask(int row, TSet* task) {
  SetCellText(List(), row, 0, task->Active ? "Ja" : "Nein");
  SetCellText(List(), row, 1, task->Name);
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = reinterpret_cast<LPARAM>(task);
  SendMessageA(List(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  SizeColumns();
}

void TSetsForm::SizeColumns() {
  // "Aktiv" as wide as its caption, "Bezeichnung" as wide as the longest name, but
  // never narrower than its caption, so an empty list still shows it.
  SendMessageA(List(), LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
  SendMessageA(List(), LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE);
  const char* const captions[] = {"Aktiv", "Bezeichnung"};
  for (int column = 0; column < 2; ++column) {
    const int caption = static_cast<int>(SendMessageA(List(), LVM_GETSTRINGWIDTHA, 0,
                                                      reinterpret_cast<LPARAM>(captions[column]))) +
                        kHeaderMargin;
    if (SendMessageA(List(), LVM_GETCOLUMNWIDTH, column, 0) < caption)
      SendMessageA(List(), LVM_SETCOLUMNWIDTH, column, caption);
  }
}

int TSetsForm::SelectedRow() const {
  return static_cast<int>(SendMessageA(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                       MAKELPARAM(LVNI_SELECTED, 0)));
}

TSet* TSetsForm::SelectedTask() const {
  const int row = SelectedRow();
  if (row < 0) return nullptr;
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageA(List(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  auto* task = reinterpret_cast<TSet*>(item.lParam);
  return sets_->IndexOf(task) >= 0 ? task : nullptr;
}

void TSetsForm::ListView1Change() {
  const bool enable = SelectedTask() != nullptr;
  for (int id : kTaskButtons) EnableItem(id, enable);
}

void TSetsForm::btnAktClick() {
  TSet* task = SelectedTask();
  if (!task) return;
  task->Active = !task->Active;
  ShowTask(SelectedRow(), task);
}

void TSetsForm::btnEigClick() {
  TSet* task = SelectedTask();
  if (!task) return;
  const int row = SelectedRow();
  if (TConfigForm* config = ConfigForm.Now()) config->Execute(task);
  ShowTask(row, task);
}

void TSetsForm::btnNeuClick() {
  TConfigForm* config = ConfigForm.Now();
  TGetFileNameForm* names = GetFileNameForm.Now();
  if (!names || !config) return;
  // A task made in this run has no file until the program ends, so its name is
  // taken although the folder does not show it yet.
  names->NameInUse = [this](const std::string& name) {
    const std::string path = folder_ + "\\" + name;
    return std::any_of(sets_->begin(), sets_->end(),
                       [&](const auto& task) { return SameTextAnsi(task->FileName, path); });
  };
  const bool named = names->Execute();
  names->NameInUse = nullptr;
  if (!named) return;

  auto task = std::make_unique<TSet>(folder_ + "\\" + names->GetFileName());
  if (task->LoadFailed()) return;  // reported; a failed task writes nothing
  bool confirmed = false;
  try {
    confirmed = config->Execute(task.get());
  } catch (...) {
    Discard(std::move(task));
    throw;
  }
  if (!confirmed) {
    Discard(std::move(task));
    return;
  }
  TSet* added = task.get();
  sets_->Add(std::move(task));
  AddRow(added);
}

void TSetsForm::btnLoeClick() {
  TSet* task = SelectedTask();
  if (!task) return;
  const int row = SelectedRow();
  if (!win::Confirm("Aufgabe wirklich löschen?")) return;
  if (FileExists(task->FileName) && DeleteFileA(task->FileName.c_str())) {
    Discard(sets_->Remove(task));
    SendMessageA(List(), LVM_DELETEITEM, row, 0);
    SizeColumns();
  } else {
    win::ShowInformation("Datei \"" + task->FileName +
                         "\" konnte nicht gelöscht werden. Aufgabe kann nicht gelöscht werden.");
  }
}

void TSetsForm::btnAusClick() {
  TSet* task = SelectedTask();
  if (!task) return;
  // The run lets messages through; with this window disabled nobody can delete or
  // edit the task meanwhile.
  win::BusyScope busy;
  task->RunIfDue();
}

void TSetsForm::ShowPopup(int x, int y) {
  if (x == -1 && y == -1) {  // from the keyboard: at the selected row, else the list's corner
    RECT r = {LVIR_BOUNDS, 0, 0, 0};
    const int row = SelectedRow();
    POINT p = {4, 4};
    if (row >= 0 && SendMessageA(List(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r)))
      p = {r.left + 4, r.bottom};
    ClientToScreen(List(), &p);
    x = p.x, y = p.y;
  }
  TrackPopupMenu(popupMenu1_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, Handle(), nullptr);
}

void TSetsForm::OnCommand(int id, int notifyCode, HWND control) {
  const bool fromMenu = control == nullptr && notifyCode == 0;
  if (notifyCode != BN_CLICKED && !fromMenu) return;
  // While a run lasts the dialog is disabled; nothing may change the task it runs.
  if (win::App().Busy()) return;
  switch (id) {
    case kBtnAkt: case kMenuAktiv: btnAktClick(); return;
    case kBtnEig: case kMenuEigenschaften: btnEigClick(); return;
    case kBtnLoe: case kMenuLoeschen: btnLoeClick(); return;
    case kBtnAus: case kMenuAusfuehren: btnAusClick(); return;
    case kBtnNeu: case kMenuNeu: btnNeuClick(); return;
    default: Form::OnCommand(id, notifyCode, control);
  }
}

LRESULT TSetsForm::OnNotify(NMHDR* header) {
  if (header->hwndFrom == List() && header->code == LVN_ITEMCHANGED) {
    const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
    if ((change->uChanged & LVIF_STATE) &&
        ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
      ListView1Change();
  }
  return 0;
}

LRESULT TSetsForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ACTIVATE:
      if (focus_.OnActivate(Handle(), wParam)) return 0;
      break;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == List()) {
        ShowPopup(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
      }
      break;
  }
  return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace vk::tasks
