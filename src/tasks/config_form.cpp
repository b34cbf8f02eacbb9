#include "tasks/config_form.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdint>

#include "tasks/hostdir.h"
#include "tasks/task_images.h"
#include "win/application.h"
#include "win/handles.h"
#include "win/msgbox.h"
#include "widgets/tree_checks.h"

namespace vk::tasks {

win::FormWhenNeeded<TConfigForm> ConfigForm;

namespace {

constexpr char kFormProp[] = "VaultkinConfigForm";
constexpr char kTreeProcProp[] = "VaultkinTreeProc";

// Kept backups of one archive name: enough for a month of daily ones and more.
constexpr int kMaxGenerations = 99;

constexpr char kPluginsMessage[] =
    "Die ausführbare Datei \"Plugin_Vaultkin.exe\" von Vaultkin wird dennoch nicht gesichert, da "
    "sonst ein Zurückschreiben der Sicherung nicht möglich ist!";

using F = TConfigForm;

const win::ControlSpec kFormControls[] = {
    {"STATIC", "", F::kImage, 8, 8, 42, 42, SS_BITMAP},
    {"STATIC",
     "Hier können alle notwendigen Einstellungen für diese Sicherungsaufgabe gemacht werden.",
     F::kLabelTop, 60, 8, 249, 41, SS_LEFT | SS_NOPREFIX},
    {"STATIC", "", F::kBevel, 4, 312, 309, 2, SS_ETCHEDHORZ},
};

const win::ControlSpec kButtons[] = {
    {"BUTTON", "Abbrechen", F::kButtonCancel, 148, 324, 75, 23, WS_TABSTOP | BS_PUSHBUTTON},
    {"BUTTON", "OK", F::kButtonOK, 232, 324, 75, 23, WS_TABSTOP | BS_DEFPUSHBUTTON},
};

struct PageControl {
  int page;
  win::ControlSpec spec;
};

constexpr DWORD kCheck = WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kRadio = BS_AUTORADIOBUTTON;
constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX;
constexpr DWORD kEdit = WS_TABSTOP | ES_AUTOHSCROLL;

const PageControl kPageControls[] = {
    {0, {"STATIC", "&Name:", F::kLabelName, 8, 12, 60, 14, SS_LEFT}},
    {0, {"EDIT", "", F::kEdit2, 72, 8, 205, 22, kEdit, WS_EX_CLIENTEDGE}},
    {0, {"STATIC", "&Dateiname:", F::kLabelFile, 8, 40, 62, 14, SS_LEFT}},
    {0, {"EDIT", "", F::kEdit3, 72, 36, 205, 22, kEdit | ES_READONLY, WS_EX_CLIENTEDGE}},
    {0, {"BUTTON", "Aufgabe ist aktiv", F::kCheckBox1, 72, 68, 205, 17, kCheck}},
    {0,
     {"STATIC",
      "d.h. es wird beim Start automatisch überprüft, ob die Aufgabe ausgeführt werden soll "
      "(siehe Automation).",
      F::kLabel9, 92, 88, 189, 69, kLabel}},

    {1, {"BUTTON", "Verzeichnisse in die Sicherung mit aufnehmen.", F::kCheckBox3, 8, 4, 289, 17,
         kCheck}},
    {1,
     {"STATIC",
      "Geben Sie hier an, welche Unterverzeichnisse des Kestrone Verzeichnisses in die Sicherung "
      "mit einbezogen werden sollen:",
      F::kLabel3, 8, 24, 289, 45, kLabel}},
    {1, {WC_TREEVIEWA, "", F::kTvFolders, 8, 72, 285, 141,
         WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT, WS_EX_CLIENTEDGE}},

    {2, {"BUTTON", "Sicherungen jedesmal in die gleiche Datei:", F::kRadioButton1, 8, 8, 280, 17,
         WS_TABSTOP | WS_GROUP | kRadio}},
    {2, {"BUTTON", "Dateinamen jedesmal abfragen", F::kRadioButton2, 8, 56, 280, 17, kRadio}},
    {2, {"BUTTON", "Kestrone-Registrierungeinträge mit sichern", F::kCheckBox2, 8, 92, 280, 17,
         kCheck | WS_GROUP}},
    {2, {"EDIT", "1", F::kEditGenerations, 8, 120, 57, 22, kEdit | WS_GROUP, WS_EX_CLIENTEDGE}},
    {2, {UPDOWN_CLASSA, "", F::kUpDownGenerations, 65, 120, 16, 22,
         UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS}},
    {2, {"STATIC", "Sicherungen aufbewahren (die älteren mit Datum im Namen).",
         F::kLabelGenerations, 84, 121, 213, 29, kLabel}},

    {3,
     {"STATIC",
      "Wenn Vaultkin als Plugin für Kestrone läuft kann eine Sicherung auch automatisch erfolgen.",
      F::kLabel6, 8, 4, 289, 29, kLabel}},
    {3, {"BUTTON", "Sicherung nie automatisch Starten.", F::kRbAuto1, 8, 36, 280, 17,
         WS_TABSTOP | WS_GROUP | kRadio}},
    {3, {"BUTTON", "", F::kRbAuto2, 8, 60, 17, 17, kRadio}},
    {3, {"STATIC", "Sicherung automatisch starten, wenn die letzte Sicherung mehr als", F::kLabel2,
         28, 60, 257, 29, kLabel | SS_NOTIFY}},
    {3, {"EDIT", "1", F::kEdit1, 28, 92, 57, 22, kEdit, WS_EX_CLIENTEDGE}},
    {3, {UPDOWN_CLASSA, "", F::kUpDown1, 85, 92, 16, 22,
         UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS}},
    {3, {"STATIC", "Tage her ist.", F::kLabelDays, 104, 96, 120, 14, kLabel}},
    {3, {"BUTTON", "", F::kRbAuto3, 8, 124, 17, 17, kRadio}},
    {3, {"STATIC", "Sicherung bei jedem Start von Kestrone starten.", F::kLabel5, 28, 124, 265, 29,
         kLabel | SS_NOTIFY}},
};

const char* const kPageCaptions[F::kPageCount] = {"Allgemein", "Verzeichnisse", "Sicherungen",
                                                  "Automation"};
const int kPageImages[F::kPageCount] = {-1, 0, 1, 2};
std::string FilePart(const std::string& path) {
  const size_t p = path.find_last_of("\\:");
  return p == std::string::npos ? path : path.substr(p + 1);
}

const std::string* DataOf(HWND tree, HTREEITEM node) {
  return reinterpret_cast<const std::string*>(widgets::TreeNodeData(tree, node));
}

bool InList(const StringList& list, const std::string& item) {
  for (const std::string& entry : list)
    if (SameTextAnsi(entry, item)) return true;
  return false;
}

// The four tabs side by side, with as much room round their texts as that leaves.
void FitTabs(HWND tabs) {
  RECT client;
  GetClientRect(tabs, &client);
  const auto font = SendMessageA(tabs, WM_GETFONT, 0, 0);
  for (int padding = 6; padding >= 0; --padding) {
    SendMessageA(tabs, TCM_SETPADDING, 0, MAKELPARAM(padding, 3));
    SendMessageA(tabs, WM_SETFONT, static_cast<WPARAM>(font), FALSE);  // measures the tabs again
    RECT last = {};
    SendMessageA(tabs, TCM_GETITEMRECT, F::kPageCount - 1, reinterpret_cast<LPARAM>(&last));
    if (last.right <= client.right - 4) return;
  }
}

}  // namespace

TConfigForm::TConfigForm() {
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES |
                                                      ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  BrowseDialog1.Caption = "Bitte Kestrone-Verzeichnis angeben.";
  BrowseDialog1.Root = "C:\\Programme";

  CreateForm("Einstellungen", 317, 356);
  AddControls(kFormControls);
  for (const win::ControlSpec& spec : kFormControls) controls_[spec.id] = Item(spec.id);
  SendMessageA(Item(kImage), STM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(SettingsPicture()));

  FloatPageControl1.Create(Handle(), kPageControl, 4, 56, 309, 249);
  SendMessageA(FloatPageControl1.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
  FloatPageControl1.SetImages(FolderImages());
  controls_[kPageControl] = FloatPageControl1.Handle();
  for (int i = 0; i < kPageCount; ++i) {
    widgets::TFloatTabSheet& sheet = *Sheet(i);
    sheet.SetCaption(kPageCaptions[i]);
    sheet.SetPageControl(&FloatPageControl1);
    sheet.SetImageIndex(kPageImages[i]);
  }
  FitTabs(FloatPageControl1.Handle());
  for (const PageControl& c : kPageControls) {
    const win::ControlSpec& s = c.spec;
    HWND control = CreateWindowExA(s.exStyle, s.className, s.text, WS_CHILD | WS_VISIBLE | s.style,
                                   s.x, s.y, s.width, s.height, Sheet(c.page)->Handle(),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.id)),
                                   GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
    controls_[s.id] = control;
  }
  // The archive name box sits between the two choices, in their tab order.
  FileNameBox1.Create(Sheet(2)->Handle(), kFileNameBox1, 28, 28, 221, 21);
  SendMessageA(FileNameBox1.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
  SetWindowPos(FileNameBox1.Handle(), Control(kRadioButton1), 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  FileNameBox1.DefaultExt = ".zip";
  FileNameBox1.Filter = "ZIP-Archive (*.zip)|*.zip|Alle Dateien (*.*)|*.*";
  FileNameBox1.DialogOptions = {widgets::TOpenOption::ofHideReadOnly,
                                widgets::TOpenOption::ofPathMustExist,
                                widgets::TOpenOption::ofNoChangeDir};
  FileNameBox1.SetGlyph(ArchiveButtonPicture());
  controls_[kFileNameBox1] = FileNameBox1.Handle();
  controls_[kFileNameButton] = FileNameBox1.Button();
  AddControls(kButtons);
  for (const win::ControlSpec& spec : kButtons) controls_[spec.id] = Item(spec.id);

  HWND tree = Tree();
  SendMessageA(tree, TVM_SETINDENT, 19, 0);
  SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(FolderImages()));
  SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(CheckBoxImages()));
  SetPropA(tree, kTreeProcProp, reinterpret_cast<HANDLE>(GetWindowLongPtrA(tree, GWLP_WNDPROC)));
  SetPropA(tree, kFormProp, reinterpret_cast<HANDLE>(this));
  SetWindowLongPtrA(tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TConfigForm::TreeProc));

  HWND upDown = Control(kUpDown1);
  SendMessageA(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Control(kEdit1)), 0);
  SendMessageA(upDown, UDM_SETRANGE32, 1, 32767);
  SendMessageA(upDown, UDM_SETPOS32, 0, 1);
  HWND generations = Control(kUpDownGenerations);
  SendMessageA(generations, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Control(kEditGenerations)), 0);
  SendMessageA(generations, UDM_SETRANGE32, 1, kMaxGenerations);
  SendMessageA(generations, UDM_SETPOS32, 0, 1);

  SetControlChecked(kRadioButton2, true);
  SetActivePage(0);
}

TConfigForm::~TConfigForm() {
  HWND tree = Tree();
  if (tree) {
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    RemovePropA(tree, kFormProp);
  }
}

HWND TConfigForm::Control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

std::string TConfigForm::ControlText(int id) const {
  HWND control = Control(id);
  const int n = GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(control, text.data(), n + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void TConfigForm::SetControlText(int id, const std::string& text) {
  SetWindowTextA(Control(id), text.c_str());
}

bool TConfigForm::ControlChecked(int id) const {
  return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TConfigForm::SetControlChecked(int id, bool checked) {
  SendMessageA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

widgets::TFloatTabSheet* TConfigForm::Sheet(int index) {
  widgets::TFloatTabSheet* sheets[kPageCount] = {&FloatTabSheet1, &FloatTabSheet2, &FloatTabSheet3,
                                                 &FloatTabSheet4};
  return sheets[index];
}

int TConfigForm::ActivePage() const {
  widgets::TFloatTabSheet* page = FloatPageControl1.ActivePage();
  return page ? page->PageIndex() : -1;
}

void TConfigForm::SetActivePage(int index) {
  if (index >= 0 && index < FloatPageControl1.PageCount())
    FloatPageControl1.SetActivePage(FloatPageControl1.Pages(index));
}

bool TConfigForm::Execute(TSet* task) {
  if (!task || InModal()) return false;
  SetActivePage(0);
  focus_.Set(Control(kPageControl));
  SetFocus(Control(kPageControl));

  SetControlText(kEdit2, task->Name);
  SetControlText(kEdit3, FilePart(task->FileName));
  SetControlChecked(kCheckBox1, task->Active);
  FillFolderTree(task->InclDirs);
  SetControlChecked(kRadioButton1, task->UseDefZipName);
  SetControlChecked(kRadioButton2, !task->UseDefZipName);
  RadioButton1Click();
  SetControlText(kFileNameBox1, task->DefZipName);
  SendMessageA(Control(kUpDownGenerations), UDM_SETPOS32, 0,
               std::clamp<int32_t>(task->Generations, 1, kMaxGenerations));
  switch (task->AutoMode) {
    case kAutoNever: ChooseAutoMode(kRbAuto1); break;
    case kAutoEveryNDays: ChooseAutoMode(kRbAuto2); break;
    case kAutoEveryStart: ChooseAutoMode(kRbAuto3); break;
    default: break;  // the buttons keep their last state
  }
  SendMessageA(Control(kUpDown1), UDM_SETPOS32, 0,
               static_cast<int16_t>(static_cast<uint32_t>(task->AutoDays) & 0xFFFF));
  SetControlChecked(kCheckBox2, task->SaveRegistry);
  SetControlChecked(kCheckBox3, task->SaveFiles);
  CheckBox3Click();

  if (ShowModal() != IDOK) return false;

  task->Name = ControlText(kEdit2);
  task->Active = ControlChecked(kCheckBox1);
  // Without a host directory there was no tree to choose from; the list stays.
  if (!hostDir_.empty()) task->InclDirs = GetInclDirs();
  task->UseDefZipName = ControlChecked(kRadioButton1);
  task->DefZipName = ControlText(kFileNameBox1);
  task->Generations = Position(kUpDownGenerations);
  task->AutoMode = kAutoNever;
  if (ControlChecked(kRbAuto2)) task->AutoMode = kAutoEveryNDays;
  if (ControlChecked(kRbAuto3)) task->AutoMode = kAutoEveryStart;
  task->AutoDays = AutoDaysPosition();
  task->SaveRegistry = ControlChecked(kCheckBox2);
  task->SaveFiles = ControlChecked(kCheckBox3);
  return true;
}

void TConfigForm::FillFolderTree(const std::string& inclDirs) {
  inclDirs_ = ReadCommaList(inclDirs);
  const std::string host = GetHostDir();
  HWND tree = Tree();
  SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
  SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  filled_.clear();
  hostDir_ = host;
  if (!hostDir_.empty()) {
    // Folders are read level by level as they are opened: a deep host directory
    // (or a whole drive) must not hold the dialog. Open now are the root and the
    // way to every listed directory, which shows each ticked one.
    HTREEITEM root = AddNode(TVI_ROOT, hostDir_, ".", inclDirs_);
    ExpandNode(root);
    for (const std::string& dir : inclDirs_) ShowListed(root, dir);
  }
  SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(tree, nullptr, TRUE);
}

void TConfigForm::ShowListed(HTREEITEM root, const std::string& relativePath) {
  HWND tree = Tree();
  if (relativePath.compare(0, 2, ".\\") != 0) return;
  HTREEITEM node = root;
  size_t start = 2;
  while (node && start < relativePath.size()) {
    const size_t slash = relativePath.find('\\', start);
    const std::string path = relativePath.substr(0, slash);
    start = slash == std::string::npos ? relativePath.size() : slash + 1;
    HTREEITEM child = widgets::TreeNext(tree, node, TVGN_CHILD);
    for (; child; child = widgets::TreeNext(tree, child, TVGN_NEXT)) {
      const std::string* data = DataOf(tree, child);
      if (data && SameTextAnsi(*data, path)) break;
    }
    node = child;
    if (node) ExpandNode(node);
  }
}

void TConfigForm::ExpandNode(HTREEITEM node) {
  FillNode(node);
  SendMessageA(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
}

HTREEITEM TConfigForm::AddNode(HTREEITEM parent, const std::string& caption,
                               const std::string& relativePath, const StringList& inclDirs) {
  TVINSERTSTRUCTA insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask =
      TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM | TVIF_CHILDREN;
  insert.item.pszText = const_cast<char*>(caption.c_str());
  insert.item.iImage = 0;
  insert.item.iSelectedImage = 0;
  insert.item.cChildren = 1;  // until opened: the "+" costs no reading
  insert.item.stateMask = TVIS_STATEIMAGEMASK;
  insert.item.state =
      INDEXTOSTATEIMAGEMASK(InList(inclDirs, relativePath) ? widgets::kTreeTicked : widgets::kTreeUnticked);
  auto* data = new std::string(relativePath);  // released in tvFoldersDeletion
  insert.item.lParam = reinterpret_cast<LPARAM>(data);
  auto node = reinterpret_cast<HTREEITEM>(
      SendMessageA(Tree(), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
  if (!node) delete data;
  return node;
}

void TConfigForm::FillNode(HTREEITEM node) {
  if (!node || !filled_.insert(node).second) return;
  HWND tree = Tree();
  const std::string* data = DataOf(tree, node);
  if (!data) return;
  const std::string relativePath = *data;
  bool any = false;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((hostDir_ + "\\" + relativePath + "\\*.*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const DWORD attrs = found.dwFileAttributes;
      if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) continue;
      if (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
      // A junction can lead back up the tree; following it would never end.
      if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      any = AddNode(node, name, relativePath + "\\" + name, inclDirs_) != nullptr || any;
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  if (!any) {
    TVITEMA item = {};
    item.mask = TVIF_CHILDREN;
    item.hItem = node;
    item.cChildren = 0;
    SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
}

std::string TConfigForm::GetInclDirs() const {
  HWND tree = Tree();
  StringList ticked;
  widgets::ForEachTreeNode(tree, widgets::TreeNext(tree, nullptr, TVGN_ROOT), [&](HTREEITEM node) {
    const std::string* data = DataOf(tree, node);
    if (data && widgets::TreeCheckState(tree, node) == widgets::kTreeTicked) ticked.push_back(*data);
  });
  return WriteCommaList(ticked);
}

void TConfigForm::tvFoldersMouseDown(int x, int y) {
  HWND tree = Tree();
  TVHITTESTINFO hit = {};
  hit.pt = {x, y};
  SendMessageA(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  if (!hit.hItem || !(hit.flags & TVHT_ONITEMSTATEICON)) return;

  const int state = 3 - widgets::TreeCheckState(tree, hit.hItem);
  widgets::SetTreeCheckState(tree, hit.hItem, state);
  const std::string* data = DataOf(tree, hit.hItem);
  if (state == widgets::kTreeTicked && data && SameTextAnsi(*data, ".\\PLUGINS"))
    win::ShowInformation(kPluginsMessage);

  bool anyTicked = false;
  widgets::ForEachTreeNode(tree, widgets::TreeNext(tree, nullptr, TVGN_ROOT), [&](HTREEITEM node) {
    if (widgets::TreeCheckState(tree, node) == widgets::kTreeTicked) anyTicked = true;
  });
  if (!anyTicked) {
    // The last directory stays ticked; the task then backs up no directories.
    widgets::SetTreeCheckState(tree, hit.hItem, widgets::kTreeTicked);
    SetControlChecked(kCheckBox3, false);
    CheckBox3Click();
  }
}

LRESULT CALLBACK TConfigForm::TreeProc(HWND tree, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto original = reinterpret_cast<WNDPROC>(GetPropA(tree, kTreeProcProp));
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropA(tree, kTreeProcProp);
    RemovePropA(tree, kFormProp);
    return CallWindowProcA(original, tree, msg, wParam, lParam);
  }
  // The tree's own handling first: it follows the button until it is released,
  // and a message box shown before that would leave it waiting.
  const LRESULT result = CallWindowProcA(original, tree, msg, wParam, lParam);
  auto* form = reinterpret_cast<TConfigForm*>(GetPropA(tree, kFormProp));
  if (!form) return result;
  const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
  if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) {
    win::App().Guard([&] { form->tvFoldersMouseDown(x, y); });
  } else if (msg == WM_RBUTTONDOWN) {
    // A right click selects the node under the mouse.
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    SendMessageA(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.hItem && (hit.flags & TVHT_ONITEM))
      SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(hit.hItem));
  }
  return result;
}

void TConfigForm::CheckBox3Click() { EnableWindow(Tree(), ControlChecked(kCheckBox3)); }

void TConfigForm::RadioButton1Click() {
  const bool fixed = ControlChecked(kRadioButton1);
  FileNameBox1.SetEnabled(fixed);
  // Generations are kept of a fixed name only.
  for (int id : {kEditGenerations, kUpDownGenerations, kLabelGenerations}) EnableWindow(Control(id), fixed);
}

void TConfigForm::ChooseAutoMode(int id) {
  for (int button : {kRbAuto1, kRbAuto2, kRbAuto3}) SetControlChecked(button, button == id);
}

void TConfigForm::Label2Click() {
  if (ControlChecked(kRbAuto2))
    SetControlChecked(kRbAuto2, false);
  else
    ChooseAutoMode(kRbAuto2);
}

void TConfigForm::Label5Click() {
  if (ControlChecked(kRbAuto3))
    SetControlChecked(kRbAuto3, false);
  else
    ChooseAutoMode(kRbAuto3);
}

int32_t TConfigForm::Position(int upDown) const {
  BOOL invalid = FALSE;
  return static_cast<int32_t>(SendMessageA(Control(upDown), UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&invalid)));
}

int TConfigForm::AutoDaysPosition() const {
  return static_cast<int16_t>(static_cast<uint32_t>(Position(kUpDown1)) & 0xFFFF);
}

void TConfigForm::OnCommand(int id, int notifyCode, HWND control) {
  switch (id) {
    case kCheckBox3:
      if (notifyCode == BN_CLICKED) CheckBox3Click();
      return;
    case kRadioButton1:
    case kRadioButton2:
      if (notifyCode == BN_CLICKED) RadioButton1Click();
      return;
    case kLabel2:
      if (notifyCode == STN_CLICKED) Label2Click();
      return;
    case kLabel5:
      if (notifyCode == STN_CLICKED) Label5Click();
      return;
    default:
      Form::OnCommand(id, notifyCode, control);
  }
}

LRESULT TConfigForm::OnNotify(NMHDR* header) {
  if (header->hwndFrom == Tree() &&
      (header->code == TVN_ITEMEXPANDINGA || header->code == TVN_ITEMEXPANDINGW)) {
    const auto* change = reinterpret_cast<NMTREEVIEWA*>(header);
    if (change->action & TVE_EXPAND) FillNode(change->itemNew.hItem);
  } else if (header->hwndFrom == Tree() &&
             (header->code == TVN_DELETEITEMA || header->code == TVN_DELETEITEMW)) {
    // tvFoldersDeletion: the node's relative path goes with it.
    const auto* change = reinterpret_cast<NMTREEVIEWA*>(header);
    delete reinterpret_cast<std::string*>(change->itemOld.lParam);
  }
  return 0;
}

LRESULT TConfigForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ACTIVATE && focus_.OnActivate(Handle(), wParam)) return 0;
  return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace vk::tasks
