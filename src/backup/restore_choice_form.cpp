#include "backup/restore_choice_form.h"

#include <dlgs.h>
#include <windowsx.h>

#include <algorithm>
#include <map>

#include "backup/zip_archiver.h"
#include "core/errors.h"
#include "core/zip_directory.h"
#include "core/zip_names.h"
#include "tasks/task_images.h"
#include "widgets/tree_checks.h"
#include "zipengine/common/win_fs.h"

namespace vk::backup {

namespace {

using F = TRestoreChoiceForm;

const win::ControlSpec kControls[] = {
    {"STATIC", "", F::kImage, 8, 8, 42, 42, SS_BITMAP},
    {"STATIC",
     "Geben Sie hier an, welche Verzeichnisse der Sicherung zurückgeschrieben werden sollen. "
     "Alle anderen Dateien bleiben unverändert.",
     F::kLabel, 60, 8, 249, 41, SS_LEFT | SS_NOPREFIX},
    {WC_TREEVIEWA, "", F::kTree, 8, 56, 301, 185,
     WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE},
    {"BUTTON", "Kestrone-Registrierungseinträge zurückschreiben", F::kRegistry, 8, 248, 301, 17,
     WS_TABSTOP | BS_AUTOCHECKBOX},
    {"STATIC", "", F::kBevel, 4, 272, 309, 2, SS_ETCHEDHORZ},
    {"BUTTON", "Abbrechen", F::kButtonCancel, 148, 284, 75, 23, WS_TABSTOP | BS_PUSHBUTTON},
    {"BUTTON", "OK", F::kButtonOK, 232, 284, 75, 23, WS_TABSTOP | BS_DEFPUSHBUTTON},
};

std::wstring Wide(const std::string& ansi) {
  std::wstring wide(ansi.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                                      wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

bool Patternable(std::u16string_view folder) {
  const std::string spec = EngineSpec(Wide(std::u16string(folder)));
  return spec.compare(0, sizeof engine::kUtf8SpecMark - 1, engine::kUtf8SpecMark) != 0;
}

// Appends to a dialog template in memory: words, and a text as UTF-16 words.
void PutWords(std::vector<WORD>* t, std::initializer_list<WORD> words) {
  for (WORD w : words) t->push_back(w);
}
void Put(std::vector<WORD>* t, std::initializer_list<DWORD> dwords) {
  for (DWORD d : dwords) PutWords(t, {LOWORD(d), HIWORD(d)});
}
void PutText(std::vector<WORD>* t, const wchar_t* text) {
  for (; *text; ++text) t->push_back(static_cast<WORD>(*text));
  t->push_back(0);
}

// The check box starts where the dialog's own "file name" label starts, as if it were
// one of the dialog's controls; the dialog's layout differs between systems.
void AlignWithFileNameLabel(HWND child) {
  HWND label = GetDlgItem(GetParent(child), stc3);
  HWND box = GetDlgItem(child, ChoiceCheckBox::kId);
  if (!label || !box) return;
  RECT from, to;
  GetWindowRect(label, &from);
  GetWindowRect(box, &to);
  MapWindowPoints(nullptr, child, reinterpret_cast<POINT*>(&from), 2);
  MapWindowPoints(nullptr, child, reinterpret_cast<POINT*>(&to), 2);
  if (from.left > 0) SetWindowPos(box, nullptr, from.left, to.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

ChoiceCheckBox::ChoiceCheckBox(OPENFILENAMEA* ofn) {
  // A child dialog below the Explorer dialog's own controls, with one check box.
  constexpr DWORD kStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK | DS_CONTROL | DS_SETFONT;
  Put(&template_, {kStyle, 0});
  PutWords(&template_, {1, 0, 0, 240, 18, 0, 0, 0, 8});  // one item; no menu, class, title
  PutText(&template_, L"MS Shell Dlg");
  if (template_.size() % 2) template_.push_back(0);  // items start on a DWORD
  Put(&template_, {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0});
  PutWords(&template_, {6, 4, 200, 10, static_cast<WORD>(kId), 0xFFFF, 0x0080});
  PutText(&template_, L"Nur ausgew\u00e4hlte Ordner zur\u00fcckschreiben");
  template_.push_back(0);  // no creation data

  ofn->Flags |= OFN_EXPLORER | OFN_ENABLETEMPLATEHANDLE | OFN_ENABLEHOOK;
  ofn->hInstance = reinterpret_cast<HINSTANCE>(template_.data());
  ofn->lpfnHook = &ChoiceCheckBox::Hook;
  ofn->lCustData = reinterpret_cast<LPARAM>(this);
}

UINT_PTR CALLBACK ChoiceCheckBox::Hook(HWND dialog, UINT msg, WPARAM, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<const OPENFILENAMEA*>(lParam)->lCustData);
  } else if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == CDN_INITDONE) {
    AlignWithFileNameLabel(dialog);
  } else if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == CDN_FILEOK) {
    auto* self = reinterpret_cast<ChoiceCheckBox*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self) self->checked_ = IsDlgButtonChecked(dialog, kId) == BST_CHECKED;
  }
  return 0;
}

TRestoreChoiceForm::TRestoreChoiceForm() {
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  CreateForm("Ordner zurückschreiben", 317, 315);
  AddControls(kControls);
  SendMessageA(Item(kImage), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(tasks::SettingsPicture()));
  HWND tree = Tree();
  SendMessageA(tree, TVM_SETINDENT, 19, 0);
  SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(tasks::FolderImages()));
  SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(tasks::CheckBoxImages()));
  SetWindowSubclass(tree, &TRestoreChoiceForm::TreeProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

bool TRestoreChoiceForm::Execute(const std::vector<std::u16string>& folders, bool hasRegistry,
                                 const std::string& hostDir, RestoreSelection* selection) {
  if (!selection || InModal()) return false;
  folders_ = folders;
  hasRegistry_ = hasRegistry;
  HWND tree = Tree();
  SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
  SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  std::map<std::u16string, HTREEITEM> nodes;  // by folded folder
  for (size_t i = 0; i < folders_.size(); ++i) {
    const std::u16string& folder = folders_[i];
    const size_t slash = folder.rfind(u'/');
    const std::u16string parent = slash == std::u16string::npos ? u"" : folder.substr(0, slash);
    auto up = nodes.find(zip::FoldCase(parent));
    const std::wstring caption =
        folder.empty() ? Wide(hostDir) : Wide(slash == std::u16string::npos ? folder : folder.substr(slash + 1));
    TVINSERTSTRUCTW insert = {};
    insert.hParent = folder.empty() || up == nodes.end() ? TVI_ROOT : up->second;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(caption.c_str());
    insert.item.stateMask = TVIS_STATEIMAGEMASK;
    insert.item.state = INDEXTOSTATEIMAGEMASK(widgets::kTreeTicked);
    insert.item.lParam = static_cast<LPARAM>(i);
    auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (node) nodes[zip::FoldCase(folder)] = node;
  }
  widgets::ForEachTreeNode(tree, widgets::TreeNext(tree, nullptr, TVGN_ROOT), [&](HTREEITEM node) {
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
  });
  HTREEITEM root = widgets::TreeNext(tree, nullptr, TVGN_ROOT);
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
  SendMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(root));
  SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
  SetChecked(kRegistry, hasRegistry);
  EnableItem(kRegistry, hasRegistry);
  UpdateOK();
  SetFocus(tree);
  if (ShowModal() != IDOK) return false;
  *selection = Selection();
  return true;
}

void TRestoreChoiceForm::Toggle(HTREEITEM node) {
  if (!node) return;
  HWND tree = Tree();
  const int state = 3 - widgets::TreeCheckState(tree, node);
  widgets::SetTreeCheckState(tree, node, state);
  widgets::ForEachTreeNode(tree, widgets::TreeNext(tree, node, TVGN_CHILD),
                           [&](HTREEITEM below) { widgets::SetTreeCheckState(tree, below, state); });
  UpdateOK();
}

RestoreSelection TRestoreChoiceForm::Selection() const {
  HWND tree = Tree();
  RestoreSelection s;
  s.folders.clear();
  bool every = true;
  widgets::ForEachTreeNode(tree, widgets::TreeNext(tree, nullptr, TVGN_ROOT), [&](HTREEITEM node) {
    const auto index = static_cast<size_t>(widgets::TreeNodeData(tree, node));
    if (widgets::TreeCheckState(tree, node) == widgets::kTreeTicked && index < folders_.size())
      s.folders.push_back(folders_[index]);
    else
      every = false;
  });
  s.registry = hasRegistry_ && Checked(kRegistry);
  s.all = every && s.registry;
  return s;
}

void TRestoreChoiceForm::UpdateOK() {
  const RestoreSelection s = Selection();
  EnableItem(kButtonOK, s.registry || !s.folders.empty());
}

void TRestoreChoiceForm::OnCommand(int id, int notifyCode, HWND control) {
  if (id == kRegistry && notifyCode == BN_CLICKED) UpdateOK();
  Form::OnCommand(id, notifyCode, control);
}

LRESULT TRestoreChoiceForm::OnNotify(NMHDR* header) {
  // The space bar ticks the selected folder, as it would a check box.
  if (header->hwndFrom == Tree() && header->code == TVN_KEYDOWN &&
      reinterpret_cast<NMTVKEYDOWN*>(header)->wVKey == VK_SPACE)
    Toggle(widgets::TreeNext(Tree(), nullptr, TVGN_CARET));
  return 0;
}

LRESULT CALLBACK TRestoreChoiceForm::TreeProc(HWND tree, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR form) {
  // The tree's own handling first: it follows the button until it is released.
  const LRESULT result = DefSubclassProc(tree, msg, wParam, lParam);
  if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) {
    TVHITTESTINFO hit = {};
    hit.pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    SendMessageA(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.hItem && (hit.flags & TVHT_ONITEMSTATEICON)) reinterpret_cast<TRestoreChoiceForm*>(form)->Toggle(hit.hItem);
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(tree, &TRestoreChoiceForm::TreeProc, 0);
  }
  return result;
}

std::vector<std::u16string> ArchiveEntryNames(const std::string& archive) {
  DWORD error = 0;
  engine::File file = engine::File::OpenRead(engine::AnsiToWide(archive), &error);
  if (!file.IsOpen()) throw EZipDirError("Error 1 reading Zip File");
  engine::FileAccess access(file);
  const zip::Directory dir = zip::ReadDirectory(access);
  const zip::OemTable& oem = zip::OemTableFor(GetOEMCP());
  std::vector<std::u16string> names;
  for (const zip::Entry& e : dir.entries) {
    // Read as the extractor reads them, so that its matching agrees.
    const auto decoded = zip::DecodeEntryName(e, oem);
    names.push_back(zip::SlashesToForward(decoded ? *decoded : zip::DecodeOem(e.name, oem)));
  }
  return names;
}

bool ChooseRestore(const std::string& archive, const std::string& hostDir, RestoreSelection* selection) {
  TZipArchiver check;  // a damaged archive is refused with the restore's usual message
  check.SetZipFilename(archive);
  const std::vector<std::u16string> names = ArchiveEntryNames(archive);
  bool hasRegistry = false;
  for (const std::u16string& name : names) hasRegistry = hasRegistry || zip::FoldCase(name) == zip::FoldCase(kRestoreRegFile);
  TRestoreChoiceForm form;
  return form.Execute(ArchiveFolders(names), hasRegistry, hostDir, selection);
}

std::vector<std::string> RestoreSpecArgs(const std::string& archive, const RestoreSelection& selection) {
  std::vector<std::string> args;
  for (const ExtractSpec& spec : ExtractSpecs(selection, ArchiveEntryNames(archive), Patternable))
    args.push_back(EngineSpec(Wide(spec.text)));
  return args;
}

}  // namespace vk::backup
