#include "host_log.h"

#include <windows.h>

namespace kshost {

std::string Hex8(uint32_t value) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(value));
  return buf;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

Log::~Log() {
  if (file_) std::fclose(file_);
}

bool Log::Open(const std::string& path) {
  start_ = GetTickCount();
  file_ = std::fopen(path.c_str(), "ab");
  return file_ != nullptr;
}

void Log::Write(const std::string& line) {
  if (!file_) return;
  std::fprintf(file_, "%s t=%lu\n", line.c_str(),
               static_cast<unsigned long>(GetTickCount() - start_));
  std::fflush(file_);
}

}  // namespace kshost
