#pragma once
// The stand-in's log: one event per line, ASCII only, flushed at once, so tests in
// Python and C++ can follow what the plug-in sent while the host still runs.
//   <event> [<word>...] [key=value...] t=<ms since start>
// Numbers that are thread ids or message parameters are 8 upper-case hex digits;
// texts are in double quotes, with \xNN for '"', '\\', control and non-ASCII
// bytes (the plug-in's texts are code page 1252).
#include <cstdint>
#include <cstdio>
#include <string>

namespace kshost {

std::string Hex8(uint32_t value);
std::string Quote(const std::string& text);

class Log {
 public:
  Log() = default;
  ~Log();
  bool Open(const std::string& path);
  void Write(const std::string& line);

 private:
  std::FILE* file_ = nullptr;
  uint32_t start_ = 0;
};

}  // namespace kshost
