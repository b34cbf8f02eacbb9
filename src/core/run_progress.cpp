#include "core/run_progress.h"

namespace vk {

std::string SlashToBackslash(std::string name) {
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

void RunProgress::FileStart(const std::string& name, int size) {
  label_ = SlashToBackslash(name);
  maximum_ = size >= 0 ? size : 0x7FFFFFFF;
  position_ = 0;
}

void RunProgress::Step() {
  const long long next = static_cast<long long>(position_) + kStep;
  position_ = next > maximum_ ? 0 : static_cast<int>(next);
}

void RunProgress::BatchEnd() { position_ = 0; }

bool PaintPace::Due(uint64_t nowMs, bool force) {
  if (drawn_ && !force && nowMs - lastMs_ < intervalMs_) return false;
  drawn_ = true;
  lastMs_ = nowMs;
  return true;
}

}  // namespace vk
