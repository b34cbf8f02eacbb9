#pragma once
// The check boxes of a tree view drawn as state images (1 empty, 2 ticked), and a
// walk over its nodes: shared by the folder trees of the settings and the restore.
#include <windows.h>
#include <commctrl.h>

namespace vk::widgets {

constexpr int kTreeUnticked = 1;
constexpr int kTreeTicked = 2;

int TreeCheckState(HWND tree, HTREEITEM node);
void SetTreeCheckState(HWND tree, HTREEITEM node, int state);
LPARAM TreeNodeData(HWND tree, HTREEITEM node);
HTREEITEM TreeNext(HWND tree, HTREEITEM node, UINT relation);

// Every node from `first` on in pre-order: a node, its children, then its next sibling.
template <class Visit>
void ForEachTreeNode(HWND tree, HTREEITEM first, const Visit& visit) {
  for (HTREEITEM node = first; node; node = TreeNext(tree, node, TVGN_NEXT)) {
    visit(node);
    ForEachTreeNode(tree, TreeNext(tree, node, TVGN_CHILD), visit);
  }
}

}  // namespace vk::widgets
