#pragma once
// Helpers of the host connection tests: the stand-in host kshost.exe started beside
// the test binary, its log read back and parsed, and waits that keep this thread's
// messages flowing (the listener's synchronised steps run only then).
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/plugin_records.h"

namespace vk::hosttest {

// One line of kshost's log: "<event> <word>... key=value ... t=<ms>".
struct LogLine {
  std::string event;
  std::vector<std::string> words;
  std::map<std::string, std::string> keys;
  std::string text;

  bool Has(const std::string& key) const { return keys.count(key) != 0; }
  const std::string& Get(const std::string& key) const {
    static const std::string none;
    auto it = keys.find(key);
    return it == keys.end() ? none : it->second;
  }
  uint32_t Hex(const std::string& key) const {
    return static_cast<uint32_t>(std::stoul(Get(key), nullptr, 16));
  }
  long long Num(const std::string& key) const { return std::stoll(Get(key)); }
  // "recv 1031": the event and its first word.
  bool Is(const std::string& ev, const std::string& word = "") const {
    return event == ev && (word.empty() || (!words.empty() && words[0] == word));
  }
};

// Undoes the log's quoting: the quotes go, \xNN becomes that byte.
inline std::string Unquote(const std::string& quoted) {
  std::string s = quoted;
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

inline LogLine ParseLogLine(const std::string& text) {
  LogLine line;
  line.text = text;
  std::vector<std::string> tokens;
  std::string token;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ' ' && !quoted) {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  if (!token.empty()) tokens.push_back(token);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const size_t eq = tokens[i].find('=');
    if (i == 0) line.event = tokens[i];
    else if (eq == std::string::npos) line.words.push_back(tokens[i]);
    else line.keys[tokens[i].substr(0, eq)] = Unquote(tokens[i].substr(eq + 1));
  }
  return line;
}

// Handles every pending message of this thread (and so the listener's steps).
inline void PumpMessages() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

// Keeps messages flowing until done() or the limit; returns done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 10000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= limitMs) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    PumpMessages();
  }
  return true;
}

inline void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

inline std::string ExeDir() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p = path;
  return p.substr(0, p.find_last_of('\\'));
}

// kshost.exe, started for one test and killed at its end.
class KsHost {
 public:
  explicit KsHost(const std::string& args = "") {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static std::atomic<int> counter{0};
    log_ = std::string(temp) + "kshost_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(counter++) + ".log";
    DeleteFileA(log_.c_str());
    std::string cmd = "\"" + ExeDir() + "\\kshost.exe\" --log \"" + log_ + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
      CloseHandle(pi_.hThread);
      PumpUntil([&] { return Window() != nullptr && Find("start") >= 0; }, 20000);
    }
  }
  ~KsHost() {
    if (pi_.hProcess) {
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
      WaitForSingleObject(pi_.hProcess, 10000);
      CloseHandle(pi_.hProcess);
    }
    DeleteFileA(log_.c_str());
  }
  KsHost(const KsHost&) = delete;
  KsHost& operator=(const KsHost&) = delete;

  bool Running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  bool WaitForEnd(DWORD ms) {
    return PumpUntil([&] { return !Running(); }, ms);
  }
  HANDLE Process() const { return pi_.hProcess; }
  static HWND Window() { return FindWindowA(vk::host::kHostWindowClass, nullptr); }
  // The host thread that answers 1025.
  uint32_t ThreadId() {
    const int i = Find("start");
    return i < 0 ? 0 : Lines()[static_cast<size_t>(i)].Hex("thread");
  }

  std::vector<LogLine> Lines() const {
    std::vector<LogLine> lines;
    std::ifstream in(log_, std::ios::binary);
    std::string text;
    while (std::getline(in, text)) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (!text.empty()) lines.push_back(ParseLogLine(text));
    }
    return lines;
  }
  // Index of the first line (from `from`) of that event and first word, or -1.
  int Find(const std::string& event, const std::string& word = "", int from = 0) const {
    const auto lines = Lines();
    for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
      if (lines[i].Is(event, word)) return static_cast<int>(i);
    return -1;
  }
  int Count(const std::string& event, const std::string& word = "") const {
    int n = 0;
    for (const LogLine& l : Lines()) n += l.Is(event, word) ? 1 : 0;
    return n;
  }
  // Waits (serving this thread's messages) until such a line is logged.
  bool WaitFor(const std::string& event, const std::string& word = "", DWORD ms = 10000) {
    return PumpUntil([&] { return Find(event, word) >= 0; }, ms);
  }
  bool WaitForCount(const std::string& event, const std::string& word, int n, DWORD ms = 10000) {
    return PumpUntil([&] { return Count(event, word) >= n; }, ms);
  }
  // The "recv" numbers in the order the host received them.
  std::vector<int> Received() const {
    std::vector<int> numbers;
    for (const LogLine& l : Lines())
      if (l.event == "recv" && !l.words.empty()) numbers.push_back(std::stoi(l.words[0]));
    return numbers;
  }
  // Runs one action line in the running host ("info", "post 2048", "kill", ...).
  bool Do(const std::string& action) const {
    HWND w = Window();
    if (!w) return false;
    COPYDATASTRUCT cds{0x4B53, static_cast<DWORD>(action.size()), const_cast<char*>(action.data())};
    DWORD_PTR result = 0;
    SendMessageTimeoutA(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &result);
    return result != 0;
  }
  const std::string& LogPath() const { return log_; }

 private:
  std::string log_;
  PROCESS_INFORMATION pi_{};
};

}  // namespace vk::hosttest
