// The folder choice of a restore: the tree of an archive's folders with its defaults,
// ticking with the mouse and the space bar, and what OK and "Abbrechen" yield.
#include "backup/restore_choice_form.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "task_dialogs_test_util.h"
#include "widgets/tree_checks.h"
#include "win/application.h"

namespace {

using namespace vk::dialogtest;
using vk::RestoreSelection;
using vk::backup::TRestoreChoiceForm;
using F = TRestoreChoiceForm;

const char kCaption[] = "Ordner zur\xFC" "ckschreiben";
const std::u16string kCyrillic = u"\u042F\u0431\u043B";

class RestoreChoiceFormTest : public ::testing::Test {
 protected:
  void SetUp() override { vk::win::App().Initialize(GetModuleHandleA(nullptr)); }

  HWND Tree() const { return form_.Tree(); }
  std::wstring Caption(HTREEITEM node) const { return TreeCaptionW(Tree(), node); }
  // The nodes in pre-order with their captions and states ("name:2").
  std::vector<std::wstring> Nodes() const {
    std::vector<std::wstring> out;
    vk::widgets::ForEachTreeNode(Tree(), TreeView_GetRoot(Tree()), [&](HTREEITEM n) {
      out.push_back(Caption(n) + L":" + std::to_wstring(vk::widgets::TreeCheckState(Tree(), n)));
    });
    return out;
  }
  HTREEITEM Find(const std::wstring& caption) const {
    HTREEITEM found = nullptr;
    vk::widgets::ForEachTreeNode(Tree(), TreeView_GetRoot(Tree()), [&](HTREEITEM n) {
      if (!found && Caption(n) == caption) found = n;
    });
    return found;
  }
  // A press of the left button on the node's check box, posted from the user's thread.
  void ClickCheckBox(HTREEITEM node) {
    POINT at;
    ASSERT_TRUE(CheckBoxPoint(Tree(), node, &at));
    PostMessageA(Tree(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageA(Tree(), WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
  }
  bool Run(const std::vector<std::u16string>& folders, bool hasRegistry, const std::function<void(HWND)>& act,
           RestoreSelection* selection) {
    UserScript user({{kCaption, act}});
    const bool ok = form_.Execute(folders, hasRegistry, "C:\\Kestrone", selection);
    EXPECT_TRUE(user.Finished());
    return ok;
  }

  TRestoreChoiceForm form_;
};

TEST_F(RestoreChoiceFormTest, EverythingTickedFirstAndATickCarriesToTheFoldersBelow) {
  const std::vector<std::u16string> folders = {u"", u"Filebase", u"Filebase/Alt", u"Filebase/Alt/Tief",
                                               kCyrillic, u"Mail Box"};
  RestoreSelection untouched;
  untouched.folders = {u"sentinel"};
  RestoreSelection chosen = untouched;
  std::vector<std::wstring> shown;
  bool registryUsable = false;
  ASSERT_TRUE(Run(folders, true, [&](HWND w) {
    shown = Nodes();
    registryUsable = IsWindowEnabled(GetDlgItem(w, F::kRegistry)) && IsDlgButtonChecked(w, F::kRegistry);
    ClickCheckBox(Find(L"Alt"));    // Alt and Tief
    ClickCheckBox(Find(L"Tief"));   // Tief alone again
    Press(w, IDOK);
  }, &chosen));
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"C:\\Kestrone:2", L"Filebase:2", L"Alt:2", L"Tief:2",
                                              std::wstring(kCyrillic.begin(), kCyrillic.end()) + L":2",
                                              L"Mail Box:2"}));
  EXPECT_TRUE(registryUsable);
  EXPECT_FALSE(chosen.all);
  EXPECT_TRUE(chosen.registry);
  EXPECT_EQ(chosen.folders,
            (std::vector<std::u16string>{u"", u"Filebase", u"Filebase/Alt/Tief", kCyrillic, u"Mail Box"}));
  EXPECT_FALSE(chosen.Chosen(u"Filebase/Alt/a.txt"));
  EXPECT_TRUE(chosen.Chosen(u"Filebase/Alt/Tief/a.txt"));

  // Untouched, OK yields everything.
  ASSERT_TRUE(Run(folders, true, [](HWND w) { Press(w, IDOK); }, &chosen));
  EXPECT_TRUE(chosen.all);
}

TEST_F(RestoreChoiceFormTest, WithoutRegistryFileAndWithNothingTickedThereIsNothingToConfirm) {
  RestoreSelection chosen;
  chosen.folders = {u"sentinel"};
  const RestoreSelection before = chosen;
  EXPECT_FALSE(Run({u"", u"Inbound"}, false, [](HWND w) {
    // The space bar on the selected root unticks the whole tree.
    PostMessageA(GetDlgItem(w, F::kTree), WM_KEYDOWN, VK_SPACE, 1);
    Press(w, IDCANCEL);
  }, &chosen));
  EXPECT_EQ(chosen.folders, before.folders);
  EXPECT_EQ(Nodes(), (std::vector<std::wstring>{L"C:\\Kestrone:1", L"Inbound:1"}));
  EXPECT_FALSE(IsWindowEnabled(form_.Item(F::kRegistry)));
  EXPECT_FALSE(form_.Checked(F::kRegistry));
  EXPECT_FALSE(IsWindowEnabled(form_.Item(IDOK)));

  // All folders of an archive without registry file: every file, no import.
  ASSERT_TRUE(Run({u"", u"Inbound"}, false, [](HWND w) { Press(w, IDOK); }, &chosen));
  EXPECT_FALSE(chosen.all);
  EXPECT_FALSE(chosen.registry);
  EXPECT_EQ(chosen.folders, (std::vector<std::u16string>{u"", u"Inbound"}));
}

}  // namespace
