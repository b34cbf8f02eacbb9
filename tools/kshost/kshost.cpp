// kshost: a stand-in for the host application Kestrone, for tests and the demo.
// It plays the host's side of the plug-in protocol: a top-level window of class
// "TKSMainWindow" that answers 1025 with its thread id, 1027 replies to 1031 (the
// interface version), 1037 (reads "KSRegisterService"+<plug-in thread>, hands out
// a service id) and 1038 (an unregister code), the info request 1030 and the
// reading of "KSPluginInfo"+<listener>, the departure 1029 both ways, and a
// "Plugins" menu built from the registrations that posts their commands.
//
//   kshost.exe [option]...
//     --version N              interface version answered to 1031 (default 8)
//     --log FILE               append every event to FILE (see host_log.h)
//     --title TEXT             window caption (default "Kestrone 95")
//     --refuse                 answer 1025 with 0
//     --hang-connect MS        take MS before answering 1025 (a hung host window)
//     --no-reply MSG           never answer MSG (1031, 1037, 1038 or the plug-in's 1027)
//     --reply-delay MSG MS     answer MSG only MS later
//     --service-ids A,B,...    service ids for the registrations, in order; then
//                              counting on from the last one (default 1, 2, ...)
//     --unregister-code CODE   answer to 1038; repeat for successive 1038s, the
//                              last one repeats (default 0); 0x80004001 = unknown
//     --hold-info-block        on 1025, create "KSPluginInfo"+<listener> itself
//     --hold-register-block    on 1025, create "KSRegisterService"+<plug-in thread>
//     --probe-after MS         after the reply to an info block, check MS later that
//                              the plug-in has released it (default 500, 0 = never)
//     --exit-on-goodbye        end when the plug-in posts 1029
//     --start-plugin PATH      start PATH (a folder: its Plugin_Vaultkin.exe) once the
//                              window exists, in its own folder
//     --plugin-args ARGS       command line arguments for it, e.g. "/normal"
//     --prog-dir DIR           set HKCU\Software\Gray.Fern.Labs\Kestrone ProgDir = DIR
//     --at MS ACTION           run ACTION MS after the start
//     --after-connect MS ACTION        ... MS after the plug-in's 1025
//     --after-register N MS ACTION     ... MS after the N-th registration (1037)
//     --exit-after MS          same as --at MS exit
//     --script FILE            more options from FILE, any number per line, # comments
//   Actions:
//     post NUM [WPARAM [LPARAM]]  post NUM to the plug-in's listener
//     command NUM              post a registered command as the menu does
//                              (wParam 0, lParam = its service id)
//     info                     post 1030 to the listener (lParam = this thread)
//     version N                answer 1031 with N from now on
//     depart                   post 1029 to the listener and forget the plug-in
//     exit                     depart, then end (closing the window does the same)
//     quit                     end without telling the plug-in
//     kill                     terminate this process at once, without goodbye
//   A running kshost also takes an action line through WM_COPYDATA (dwData 0x4B53)
//   sent to its window, so a test can drive it step by step.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/plugin_records.h"
#include "host_log.h"
#include "host_options.h"

namespace kshost {
namespace {

using namespace vk::host;

constexpr ULONG_PTR kCopyDataAction = 0x4B53;
constexpr int kFirstMenuId = 1000;
constexpr int kExitMenuId = 999;

struct Registration {
  int32_t id;
  std::string title;
  std::string description;
  int32_t command;
  uint32_t listener;
};

struct Scheduled {
  DWORD due;
  std::function<void()> run;
};

class Host {
 public:
  explicit Host(Options options) : o_(std::move(options)) {}

  int Run(HINSTANCE instance);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void HandleThreadMessage(const MSG& m);
  LRESULT OnConnect(WPARAM wParam, LPARAM lParam);
  void OnVersionQuery();
  void OnRegister(uint32_t size);
  void OnUnregister(int32_t serviceId);
  void OnInfoReady();
  void OnGoodbye();
  void RunAction(const Action& action);
  void Depart();
  void End(bool sayGoodbye);

  void Reply(uint32_t request, uint32_t to, uint32_t value, std::function<void()> before = {});
  void Post(uint32_t to, uint32_t msg, uint32_t wParam, uint32_t lParam);
  void Schedule(DWORD delayMs, std::function<void()> run);
  void ScheduleTimed(Trigger trigger, int registration);
  void RunDue();
  DWORD NextWait() const;
  void Probe(const std::string& name, const char* when);
  void HoldBlock(const std::string& name, uint32_t size);
  void StartPlugin();
  void SetProgDir();
  void RebuildMenu();

  Options o_;
  Log log_;
  HWND hwnd_ = nullptr;
  HMENU pluginMenu_ = nullptr;
  DWORD threadId_ = 0;
  uint32_t listener_ = 0;      // wParam of the last 1025
  uint32_t pluginThread_ = 0;  // lParam of the last 1025
  bool connected_ = false;
  int registrationsSeen_ = 0;
  size_t nextServiceIdIndex_ = 0;
  int32_t nextServiceId_ = 1;
  size_t nextCodeIndex_ = 0;
  std::vector<Registration> registrations_;
  std::vector<HANDLE> heldBlocks_;
  std::deque<Scheduled> schedule_;
  bool ending_ = false;
};

std::string Dec(int64_t v) { return std::to_string(v); }

Host* g_host = nullptr;

// ---------------------------------------------------------------------------

int Host::Run(HINSTANCE instance) {
  threadId_ = GetCurrentThreadId();
  if (!o_.logPath.empty() && !log_.Open(o_.logPath)) return 2;
  MSG m;
  PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // a queue before anyone posts

  WNDCLASSA wc{};
  wc.lpfnWndProc = &Host::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kHostWindowClass;
  RegisterClassA(&wc);

  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuA(file, MF_STRING, kExitMenuId, "&Beenden");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&Datei");
  pluginMenu_ = CreatePopupMenu();
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(pluginMenu_), "&Plugins");
  hwnd_ = CreateWindowExA(0, kHostWindowClass, o_.title.c_str(), WS_OVERLAPPEDWINDOW,
                          40, 40, 420, 260, nullptr, bar, instance, nullptr);
  if (!hwnd_) return 2;
  RebuildMenu();
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);

  log_.Write("start pid=" + Dec(GetCurrentProcessId()) + " thread=" + Hex8(threadId_) +
             " window=" + Hex8(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd_))) +
             " version=" + Dec(o_.version));
  if (o_.setProgDir) SetProgDir();
  ScheduleTimed(Trigger::kStart, 0);
  if (!o_.startPlugin.empty()) StartPlugin();

  for (;;) {
    RunDue();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, NextWait(), QS_ALLINPUT);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        log_.Write("exit");
        return static_cast<int>(m.wParam);
      }
      if (!m.hwnd) {
        HandleThreadMessage(m);
      } else {
        TranslateMessage(&m);
        DispatchMessageA(&m);
      }
    }
  }
}

LRESULT CALLBACK Host::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_host && g_host->hwnd_ == hwnd) return g_host->HandleWindowMessage(msg, wParam, lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT Host::HandleWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case msg::kConnect:
      return OnConnect(wParam, lParam);
    case WM_COPYDATA: {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (cds->dwData != kCopyDataAction) return FALSE;
      const std::string line(static_cast<const char*>(cds->lpData), cds->cbData);
      try {
        Action a{SplitWords(line.c_str())};
        CheckAction(a);
        RunAction(a);
      } catch (const std::exception& e) {
        log_.Write("error " + Quote(e.what()));
        return FALSE;
      }
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == kExitMenuId) {
        End(/*sayGoodbye=*/true);
      } else if (id >= kFirstMenuId && id - kFirstMenuId < static_cast<int>(registrations_.size())) {
        const Registration& r = registrations_[static_cast<size_t>(id - kFirstMenuId)];
        Post(r.listener, static_cast<uint32_t>(r.command), 0, static_cast<uint32_t>(r.id));
      }
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      std::string text = connected_ ? "Plug-in verbunden, Listener " + Hex8(listener_)
                                    : std::string("Kein Plug-in verbunden");
      text += "\r\n" + Dec(static_cast<int64_t>(registrations_.size())) + " Befehl(e) registriert";
      RECT rc;
      GetClientRect(hwnd_, &rc);
      InflateRect(&rc, -8, -8);
      DrawTextA(dc, text.c_str(), -1, &rc, DT_LEFT | DT_TOP);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_CLOSE:
      End(/*sayGoodbye=*/true);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// The protocol

LRESULT Host::OnConnect(WPARAM wParam, LPARAM lParam) {
  const uint32_t listener = static_cast<uint32_t>(wParam);
  const uint32_t plugin = static_cast<uint32_t>(lParam);
  log_.Write("recv 1025 wparam=" + Hex8(listener) + " lparam=" + Hex8(plugin));
  if (o_.hangConnectMs) Sleep(o_.hangConnectMs);
  if (o_.refuse) {
    log_.Write("answer 1025 result=00000000");
    return 0;
  }
  listener_ = listener;
  pluginThread_ = plugin;
  connected_ = true;
  if (o_.holdInfoBlock) HoldBlock(BlockName(kPluginInfoPrefix, listener_), TPluginInfo::kSize);
  if (o_.holdRegisterBlock)
    HoldBlock(BlockName(kRegisterServicePrefix, pluginThread_), kRegistrationBlockSize);
  log_.Write("answer 1025 result=" + Hex8(threadId_));
  ScheduleTimed(Trigger::kConnect, 0);
  InvalidateRect(hwnd_, nullptr, TRUE);
  return static_cast<LRESULT>(threadId_);
}

void Host::HandleThreadMessage(const MSG& m) {
  const uint32_t wp = static_cast<uint32_t>(m.wParam);
  const uint32_t lp = static_cast<uint32_t>(m.lParam);
  log_.Write("recv " + Dec(m.message) + " wparam=" + Hex8(wp) + " lparam=" + Hex8(lp));
  switch (m.message) {
    case msg::kVersionQuery: OnVersionQuery(); break;
    case msg::kRegisterService: OnRegister(lp); break;
    case msg::kUnregisterService: OnUnregister(static_cast<int32_t>(lp)); break;
    case msg::kReply: OnInfoReady(); break;
    case msg::kDisconnect: OnGoodbye(); break;
    default: break;
  }
}

void Host::OnVersionQuery() {
  Reply(msg::kVersionQuery, pluginThread_, static_cast<uint32_t>(o_.version));
}

void Host::OnRegister(uint32_t size) {
  const std::string name = BlockName(kRegisterServicePrefix, pluginThread_);
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  const uint8_t* view = h ? static_cast<const uint8_t*>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  int32_t id = 0;
  if (!view) {
    log_.Write("block-missing " + name + " error=" + Dec(GetLastError()));
  } else {
    MEMORY_BASIC_INFORMATION mbi{};
    VirtualQuery(view, &mbi, sizeof mbi);
    const uint32_t readable = static_cast<uint32_t>(mbi.RegionSize);
    std::string line = "block " + name + " size=" + Dec(size) + " section=" + Dec(readable);
    if (size >= TServiceRecord::kSize && size <= readable) {
      const TServiceRecord r = TServiceRecord::FromBytes(view);
      line += " reserved=" + Dec(r.Reserved()) + " title=" + Quote(r.Title()) +
              " description=" + Quote(r.Description()) + " command=" + Dec(r.Command()) +
              " listener=" + Hex8(r.ListenerThreadID()) + " last=" + Dec(view[size - 1]);
      if (nextServiceIdIndex_ < o_.serviceIds.size()) {
        id = o_.serviceIds[nextServiceIdIndex_++];
        nextServiceId_ = id + 1;
      } else {
        id = nextServiceId_++;
      }
      line += " id=" + Dec(id);
      registrations_.push_back({id, r.Title(), r.Description(), r.Command(), r.ListenerThreadID()});
      RebuildMenu();
    } else {
      line += " malformed=1";
    }
    log_.Write(line);
  }
  if (view) UnmapViewOfFile(view);
  if (h) CloseHandle(h);
  Reply(msg::kRegisterService, pluginThread_, static_cast<uint32_t>(id));
  ++registrationsSeen_;
  ScheduleTimed(Trigger::kRegister, registrationsSeen_);
}

void Host::OnUnregister(int32_t serviceId) {
  uint32_t code = 0;
  if (!o_.unregisterCodes.empty()) {
    code = o_.unregisterCodes[std::min(nextCodeIndex_, o_.unregisterCodes.size() - 1)];
    ++nextCodeIndex_;
  }
  if (code == 0) {
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                        [&](const Registration& r) { return r.id == serviceId; }),
                         registrations_.end());
    RebuildMenu();
  }
  Reply(msg::kUnregisterService, pluginThread_, code);
}

void Host::OnInfoReady() {
  const std::string name = BlockName(kPluginInfoPrefix, listener_);
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  const uint8_t* view = h ? static_cast<const uint8_t*>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (!view) {
    log_.Write("block-missing " + name + " error=" + Dec(GetLastError()));
  } else {
    MEMORY_BASIC_INFORMATION mbi{};
    VirtualQuery(view, &mbi, sizeof mbi);
    const TPluginInfo info = TPluginInfo::FromBytes(view);
    log_.Write("block " + name + " size=" + Dec(TPluginInfo::kSize) +
               " section=" + Dec(static_cast<int64_t>(mbi.RegionSize)) +
               " name=" + Quote(info.PIName()) + " copyright=" + Quote(info.PICopyright()) +
               " description=" + Quote(info.PIDescription()) +
               " version=" + Dec(info.PIVersion()) + " revision=" + Dec(info.PIRevision()) +
               " required=" + Dec(info.PIAPIRequiered()) + " supported=" + Dec(info.PIAPISupported()));
  }
  if (view) UnmapViewOfFile(view);
  if (h) CloseHandle(h);
  // The plug-in holds the block until this reply; look before and after it.
  Reply(msg::kReply, listener_, 0, [this, name] { Probe(name, "before-reply"); });
  if (o_.probeAfterMs && o_.noReply.count(msg::kReply) == 0) {
    const DWORD delay = o_.probeAfterMs + (o_.replyDelay.count(msg::kReply) ? o_.replyDelay[msg::kReply] : 0);
    Schedule(delay, [this, name] { Probe(name, "after-reply"); });
  }
}

void Host::OnGoodbye() {
  log_.Write("departed by=plugin");
  connected_ = false;
  registrations_.clear();
  RebuildMenu();
  if (o_.exitOnGoodbye) End(/*sayGoodbye=*/false);
}

void Host::Depart() {
  if (!connected_) return;
  Post(listener_, msg::kDisconnect, 0, 0);
  log_.Write("departed by=host");
  connected_ = false;
  registrations_.clear();
  RebuildMenu();
}

void Host::End(bool sayGoodbye) {
  if (ending_) return;
  ending_ = true;
  if (sayGoodbye) Depart();
  DestroyWindow(hwnd_);
}

void Host::RunAction(const Action& a) {
  const std::string& verb = a.words[0];
  auto arg = [&](size_t i) { return i < a.words.size() ? static_cast<uint32_t>(ParseNumber(a.words[i])) : 0u; };
  std::string line = "action";
  for (const std::string& w : a.words) line += " " + w;
  log_.Write(line);
  if (verb == "post") {
    Post(listener_, arg(1), arg(2), arg(3));
  } else if (verb == "command") {
    const int32_t command = static_cast<int32_t>(arg(1));
    uint32_t id = 0;
    for (const Registration& r : registrations_)
      if (r.command == command) { id = static_cast<uint32_t>(r.id); break; }
    Post(listener_, static_cast<uint32_t>(command), 0, id);
  } else if (verb == "info") {
    Post(listener_, msg::kInfoRequest, 0, threadId_);
  } else if (verb == "version") {
    o_.version = static_cast<int32_t>(arg(1));
  } else if (verb == "depart") {
    Depart();
  } else if (verb == "exit") {
    End(/*sayGoodbye=*/true);
  } else if (verb == "quit") {
    End(/*sayGoodbye=*/false);
  } else if (verb == "kill") {
    TerminateProcess(GetCurrentProcess(), 9);
  }
}

// ---------------------------------------------------------------------------
// Helpers

void Host::Reply(uint32_t request, uint32_t to, uint32_t value, std::function<void()> before) {
  if (o_.noReply.count(request)) {
    log_.Write("withheld " + Dec(request));
    return;
  }
  auto send = [this, request, to, value, before] {
    if (before) before();
    const BOOL ok = PostThreadMessageA(to, msg::kReply, 0, static_cast<LPARAM>(value));
    log_.Write("reply " + Dec(request) + " to=" + Hex8(to) + " lparam=" + Hex8(value) +
               " ok=" + Dec(ok ? 1 : 0));
  };
  auto delay = o_.replyDelay.find(request);
  if (delay != o_.replyDelay.end() && delay->second > 0)
    Schedule(delay->second, send);
  else
    send();
}

void Host::Post(uint32_t to, uint32_t msg, uint32_t wParam, uint32_t lParam) {
  const BOOL ok = PostThreadMessageA(to, msg, wParam, static_cast<LPARAM>(lParam));
  log_.Write("post " + Dec(msg) + " to=" + Hex8(to) + " wparam=" + Hex8(wParam) +
             " lparam=" + Hex8(lParam) + " ok=" + Dec(ok ? 1 : 0));
}

void Host::Schedule(DWORD delayMs, std::function<void()> run) {
  const DWORD due = GetTickCount() + delayMs;
  auto at = std::find_if(schedule_.begin(), schedule_.end(),
                         [due](const Scheduled& s) { return static_cast<LONG>(s.due - due) > 0; });
  schedule_.insert(at, Scheduled{due, std::move(run)});
}

void Host::ScheduleTimed(Trigger trigger, int registration) {
  for (const Timed& t : o_.timed) {
    if (t.trigger != trigger || (trigger == Trigger::kRegister && t.registration != registration))
      continue;
    Action a = t.action;
    Schedule(t.delayMs, [this, a] { RunAction(a); });
  }
}

void Host::RunDue() {
  while (!schedule_.empty() && static_cast<LONG>(GetTickCount() - schedule_.front().due) >= 0) {
    Scheduled s = std::move(schedule_.front());
    schedule_.pop_front();
    s.run();
  }
}

DWORD Host::NextWait() const {
  if (schedule_.empty()) return INFINITE;
  const LONG left = static_cast<LONG>(schedule_.front().due - GetTickCount());
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

void Host::Probe(const std::string& name, const char* when) {
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  log_.Write("probe " + name + " when=" + when + " exists=" + (h ? "1" : "0"));
  if (h) CloseHandle(h);
}

void Host::HoldBlock(const std::string& name, uint32_t size) {
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
  if (!h) {
    log_.Write("hold " + name + " ok=0");
    return;
  }
  // A recognisable pattern, so a test can see that nobody wrote into it.
  if (void* view = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, size)) {
    std::memset(view, 0xA5, size);
    UnmapViewOfFile(view);
  }
  heldBlocks_.push_back(h);
  log_.Write("hold " + name + " ok=1");
}

void Host::StartPlugin() {
  std::string path = o_.startPlugin;
  const DWORD attrs = GetFileAttributesA(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!path.empty() && path.back() != '\\') path += '\\';
    path += "Plugin_Vaultkin.exe";
  }
  std::string dir = path.substr(0, path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/"));
  std::string cmd = "\"" + path + "\"";
  if (!o_.pluginArgs.empty()) cmd += " " + o_.pluginArgs;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::vector<char> cmdline(cmd.begin(), cmd.end());
  cmdline.push_back('\0');
  const BOOL ok = CreateProcessA(path.c_str(), cmdline.data(), nullptr, nullptr,
                                 /*bInheritHandles=*/FALSE, 0, nullptr,
                                 dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  if (!ok) {
    log_.Write("started ok=0 error=" + Dec(GetLastError()) + " path=" + Quote(path));
    return;
  }
  log_.Write("started ok=1 pid=" + Dec(pi.dwProcessId) + " path=" + Quote(path) +
             " args=" + Quote(o_.pluginArgs));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

void Host::SetProgDir() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Gray.Fern.Labs\\Kestrone", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    log_.Write("progdir ok=0");
    return;
  }
  const LONG r = RegSetValueExA(key, "ProgDir", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(o_.progDir.c_str()),
                                static_cast<DWORD>(o_.progDir.size() + 1));
  RegCloseKey(key);
  log_.Write("progdir ok=" + Dec(r == ERROR_SUCCESS ? 1 : 0) + " dir=" + Quote(o_.progDir));
}

void Host::RebuildMenu() {
  while (GetMenuItemCount(pluginMenu_) > 0) DeleteMenu(pluginMenu_, 0, MF_BYPOSITION);
  if (registrations_.empty()) AppendMenuA(pluginMenu_, MF_STRING | MF_GRAYED, 0, "(keine)");
  for (size_t i = 0; i < registrations_.size(); ++i)
    AppendMenuA(pluginMenu_, MF_STRING, kFirstMenuId + static_cast<UINT>(i),
                registrations_[i].title.c_str());
  if (hwnd_) {
    DrawMenuBar(hwnd_);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
}

}  // namespace
}  // namespace kshost

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  std::vector<std::string> args(__argv + 1, __argv + __argc);
  kshost::Options options;
  try {
    options = kshost::ParseOptions(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kshost: %s\n", e.what());
    return 2;
  }
  kshost::Host host(std::move(options));
  kshost::g_host = &host;
  return host.Run(instance);
}
