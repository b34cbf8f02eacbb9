#include "widgets/tree_checks.h"

namespace vk::widgets {

int TreeCheckState(HWND tree, HTREEITEM node) {
  const auto state = static_cast<UINT>(
      SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(node), TVIS_STATEIMAGEMASK));
  return static_cast<int>((state & TVIS_STATEIMAGEMASK) >> 12);
}

void SetTreeCheckState(HWND tree, HTREEITEM node, int state) {
  TVITEMA item = {};
  item.mask = TVIF_STATE;
  item.hItem = node;
  item.stateMask = TVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(state);
  SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

LPARAM TreeNodeData(HWND tree, HTREEITEM node) {
  TVITEMA item = {};
  item.mask = TVIF_PARAM;
  item.hItem = node;
  if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return item.lParam;
}

HTREEITEM TreeNext(HWND tree, HTREEITEM node, UINT relation) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(node)));
}

}  // namespace vk::widgets
