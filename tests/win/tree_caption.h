#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

// A tree node's caption, as the tree holds it (UTF-16), and in the ANSI code page.
inline std::wstring TreeCaptionW(HWND tree, HTREEITEM node) {
  wchar_t text[MAX_PATH] = {};
  TVITEMW item = {};
  item.mask = TVIF_TEXT;
  item.hItem = node;
  item.pszText = text;
  item.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return text;
}
inline std::string TreeCaption(HWND tree, HTREEITEM node) {
  const std::wstring wide = TreeCaptionW(tree, node);
  char text[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
  return text;
}
