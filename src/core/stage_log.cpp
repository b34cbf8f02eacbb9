#include "core/stage_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace vk {

void LogStage(const char* label) {
  static const char* const path = std::getenv("VAULTKIN_STAGE_LOG");
  if (!path || !*path) return;
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  // Opened for each line: the program and the engine library write to it in turn.
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%lld.%03lld %s\n", static_cast<long long>(now.count() / 1000),
                 static_cast<long long>(now.count() % 1000), label);
    std::fclose(f);
  }
}

}  // namespace vk
