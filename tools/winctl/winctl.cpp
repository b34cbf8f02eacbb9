// winctl: drives other programs' windows for the end-to-end tests, the way a person
// would: find a window by its caption, read its texts, press its buttons. It also
// reads and writes the registry of the Wine prefix it runs in.
//
// It reads one command a line from standard input and answers each with one line
// that starts with "ok" or "error", so a test keeps one process for all its steps:
//   wait <caption> <timeout-ms>       ok <hwnd-hex> when a visible top-level window
//                                     with exactly that caption exists
//   gone <caption> <timeout-ms>       ok when no such window is left
//   texts <caption>                   ok <text>|<text>|... of its child windows
//   click <caption> <button-text>     presses the button with that text (BM_CLICK)
//   settext <caption> <class> <n> <text>  sets the text of its n-th child of a class
//   close <caption>                   sends WM_CLOSE
//   rect <caption>                    ok <left> <top> <right> <bottom> <iconic 0/1>
//   childrect <caption> <class>       ok <left> <top> <right> <bottom> of its first child
//                                     of that class, in its client area
//   clickat <caption> <x> <y>         a left click at that point of its client area,
//                                     into the innermost visible child there
//   keys <caption> <class> <vk,...>   posts key presses (virtual-key codes) to its first
//                                     child of that class, one after the other
//   copydata <caption> <number> <text>  sends WM_COPYDATA with that dwData and text
//   list                              ok <caption>|<caption>|... of visible windows
//   regset <key> <name> <data>        REG_SZ under HKEY_CURRENT_USER\<key>
//   regsetdw <key> <name> <number>    REG_DWORD
//   regget <key> <name>               ok <data> (strings) or error
//   regdel <key>                      deletes the key with all its sub-keys
//   hold <path>                       opens the file without sharing and keeps it
//                                     open, as a program that writes it would
//   release <path>                    closes it again
//   quit
// Arguments are separated by tabs, so captions and texts may hold blanks.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return parts;
}

std::string WindowText(HWND hwnd) {
  char buffer[4096];
  // WM_GETTEXT rather than GetWindowText: it also reads controls of other processes.
  LRESULT n = SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                                  SMTO_ABORTIFHUNG, 2000, nullptr)
                  ? static_cast<LRESULT>(strlen(buffer))
                  : 0;
  return std::string(buffer, static_cast<size_t>(n));
}

// A top-level window's caption as the system keeps it: answers at once even when
// the window's thread is busy (a run that does not take messages for a while).
std::string Caption(HWND hwnd) {
  char buffer[4096];
  const int n = GetWindowTextA(hwnd, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

struct Search {
  std::string caption;
  HWND found = nullptr;
  std::vector<std::string> all;
};

BOOL CALLBACK FindTop(HWND hwnd, LPARAM lParam) {
  auto* s = reinterpret_cast<Search*>(lParam);
  if (!IsWindowVisible(hwnd)) return TRUE;
  std::string text = Caption(hwnd);
  s->all.push_back(text);
  if (!s->found && text == s->caption) s->found = hwnd;
  return TRUE;
}

HWND FindCaption(const std::string& caption) {
  Search s;
  s.caption = caption;
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND WaitCaption(const std::string& caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND h = FindCaption(caption)) return h;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

struct Children {
  std::vector<HWND> list;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
  reinterpret_cast<Children*>(lParam)->list.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND parent) {
  Children c;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&c));
  return c.list;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// "&Ja" and "Ja" both name the button "&Ja".
std::string WithoutAmpersand(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '&') out += c;
  return out;
}

std::string Run(const std::vector<std::string>& a) {
  const std::string& cmd = a[0];
  auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
  if (cmd == "wait") {
    HWND h = WaitCaption(arg(1), static_cast<DWORD>(atol(arg(2).c_str())));
    if (!h) return "error timeout";
    char buf[32];
    snprintf(buf, sizeof buf, "ok %llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)));
    return buf;
  }
  if (cmd == "gone") {
    DWORD start = GetTickCount(), timeout = static_cast<DWORD>(atol(arg(2).c_str()));
    while (FindCaption(arg(1))) {
      if (GetTickCount() - start >= timeout) return "error still there";
      Sleep(50);
    }
    return "ok";
  }
  // Until the window with this caption is gone, answering the "Information" boxes it
  // shows on the way. Watches one window's style instead of listing every window, so
  // that a benchmark watching a run costs the run next to nothing.
  if (cmd == "watch") {
    HWND h = FindCaption(arg(1));
    if (!h) return "error no window";
    DWORD start = GetTickCount(), timeout = static_cast<DWORD>(atol(arg(2).c_str()));
    for (;;) {
      const LONG style = GetWindowLongA(h, GWL_STYLE);
      if (!IsWindow(h) || !(style & WS_VISIBLE)) return "ok";
      if (GetTickCount() - start >= timeout) return "error still there";
      // A box is up: answered, and then watched at the same pace as before, so that
      // the window's end after it is seen within 5 ms too. A second click on a box
      // still closing changes nothing.
      if (style & WS_DISABLED) {
        if (HWND box = FindCaption("Information"))
          for (HWND child : ChildrenOf(box))
            if (WithoutAmpersand(WindowText(child)) == "OK") PostMessageA(child, BM_CLICK, 0, 0);
      }
      Sleep(5);
    }
  }
  if (cmd == "list") {
    Search s;
    s.caption = "\x01";
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&s));
    std::string out = "ok ";
    for (size_t i = 0; i < s.all.size(); ++i) out += (i ? "|" : "") + s.all[i];
    return out;
  }
  HWND top = nullptr;
  if (cmd == "texts" || cmd == "click" || cmd == "close" || cmd == "settext" || cmd == "copydata" ||
      cmd == "rect" || cmd == "childrect" || cmd == "clickat" || cmd == "keys") {
    top = FindCaption(arg(1));
    if (!top) return "error no window";
  }
  if (cmd == "texts") {
    std::string out = "ok ";
    bool first = true;
    for (HWND child : ChildrenOf(top)) {
      if (!IsWindowVisible(child)) continue;
      std::string t = WindowText(child);
      for (char& c : t)
        if (c == '\r' || c == '\n') c = ' ';
      out += (first ? "" : "|") + t;
      first = false;
    }
    return out;
  }
  if (cmd == "click") {
    std::string wanted = WithoutAmpersand(arg(2));
    for (HWND child : ChildrenOf(top)) {
      if (ClassOf(child) != "Button" && ClassOf(child) != "BUTTON") continue;
      if (WithoutAmpersand(WindowText(child)) != wanted) continue;
      if (!IsWindowEnabled(child)) return "error disabled";
      PostMessageA(child, BM_CLICK, 0, 0);
      return "ok";
    }
    return "error no button";
  }
  if (cmd == "settext") {
    int n = atoi(arg(3).c_str());
    for (HWND child : ChildrenOf(top)) {
      if (lstrcmpiA(ClassOf(child).c_str(), arg(2).c_str()) != 0) continue;
      if (n-- > 0) continue;
      SendMessageA(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(4).c_str()));
      return "ok";
    }
    return "error no control";
  }
  if (cmd == "copydata") {
    COPYDATASTRUCT data = {};
    data.dwData = static_cast<ULONG_PTR>(strtoul(arg(2).c_str(), nullptr, 0));
    std::string text = arg(3);
    data.cbData = static_cast<DWORD>(text.size() + 1);
    data.lpData = text.data();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(top, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             5000, &result))
      return "error no answer";
    return "ok";
  }
  if (cmd == "close") {
    PostMessageA(top, WM_CLOSE, 0, 0);
    return "ok";
  }
  if (cmd == "rect" || cmd == "childrect") {
    HWND target = top;
    if (cmd == "childrect") {
      target = nullptr;
      for (HWND child : ChildrenOf(top))
        if (!target && lstrcmpiA(ClassOf(child).c_str(), arg(2).c_str()) == 0) target = child;
      if (!target) return "error no control";
    }
    RECT r;
    GetWindowRect(target, &r);
    if (target != top) MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
    char buf[96];
    snprintf(buf, sizeof buf, "ok %ld %ld %ld %ld %d", r.left, r.top, r.right, r.bottom,
             IsIconic(target) ? 1 : 0);
    return buf;
  }
  if (cmd == "keys") {
    for (HWND child : ChildrenOf(top)) {
      if (lstrcmpiA(ClassOf(child).c_str(), arg(2).c_str()) != 0) continue;
      const std::string keys = arg(3) + ",";
      for (size_t at = 0, comma; (comma = keys.find(',', at)) != std::string::npos; at = comma + 1) {
        const auto vk = static_cast<WPARAM>(strtoul(keys.substr(at, comma - at).c_str(), nullptr, 0));
        if (!vk) return "error bad key";
        PostMessageA(child, WM_KEYDOWN, vk, 1);
        PostMessageA(child, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
      }
      return "ok";
    }
    return "error no control";
  }
  if (cmd == "clickat") {
    POINT p = {atoi(arg(2).c_str()), atoi(arg(3).c_str())};
    HWND target = top;
    for (;;) {
      HWND inner = ChildWindowFromPointEx(target, p, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
      if (!inner || inner == target) break;
      MapWindowPoints(target, inner, &p, 1);
      target = inner;
    }
    PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    PostMessageA(target, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    return "ok";
  }
  if (cmd == "regset" || cmd == "regsetdw") {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, arg(1).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return "error create";
    LONG rc;
    if (cmd == "regset") {
      rc = RegSetValueExA(key, arg(2).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(arg(3).c_str()),
                          static_cast<DWORD>(arg(3).size() + 1));
    } else {
      DWORD v = static_cast<DWORD>(strtoul(arg(3).c_str(), nullptr, 0));
      rc = RegSetValueExA(key, arg(2).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? "ok" : "error set";
  }
  if (cmd == "regget") {
    char data[4096];
    DWORD size = sizeof data - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, arg(1).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return "error no key";
    LONG rc = RegQueryValueExA(key, arg(2).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "error no value";
    if (type == REG_DWORD) return "ok " + std::to_string(*reinterpret_cast<DWORD*>(data));
    data[size] = 0;
    return std::string("ok ") + data;
  }
  if (cmd == "regdel") {
    LONG rc = RegDeleteTreeA(HKEY_CURRENT_USER, arg(1).c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? "ok" : "error delete";
  }
  if (cmd == "hold" || cmd == "release") {
    static std::map<std::string, HANDLE> held;
    auto it = held.find(arg(1));
    if (cmd == "release") {
      if (it == held.end()) return "error not held";
      CloseHandle(it->second);
      held.erase(it);
      return "ok";
    }
    if (it != held.end()) return "error held already";
    HANDLE h = CreateFileA(arg(1).c_str(), GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "error open " + std::to_string(GetLastError());
    held[arg(1)] = h;
    return "ok";
  }
  return "error unknown command";
}

}  // namespace

int main() {
  char line[8192];
  setvbuf(stdout, nullptr, _IONBF, 0);
  while (fgets(line, sizeof line, stdin)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    if (s.empty()) continue;
    if (s == "quit") break;
    printf("%s\n", Run(Split(s)).c_str());
  }
  return 0;
}
