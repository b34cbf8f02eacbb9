#include "zipengine/common/reporter.h"

#include <algorithm>
#include <cstring>

#include "zipengine/common/test_fault.h"

namespace vk::engine {

bool Reporter::Call(int32_t action, int32_t code, uint64_t size, std::string_view text) {
  if (stopped_) return false;
  if (!callback_) return true;
  CallbackInfo info{};
  info.caller = caller_;
  info.action = action;
  info.errorCode = code;
  info.fileSize = static_cast<int32_t>(static_cast<uint32_t>(size & 0xFFFFFFFFu));
  const size_t n = std::min(text.size(), sizeof info.text - 1);
  std::memcpy(info.text, text.data(), n);
  info.text[n] = '\0';
  int32_t answer;
  try {
    answer = callback_(&info);
  } catch (...) {
    stopped_ = threw_ = true;
    throw;
  }
  if (answer == -1) stopped_ = true;
  lastCall_ = std::chrono::steady_clock::now();
  return !stopped_;
}

unsigned Reporter::PaceLeftMs() const {
  const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastCall_);
  return since.count() >= kReportPaceMs ? 1 : kReportPaceMs - static_cast<unsigned>(since.count());
}

bool Reporter::FileBegins(std::string_view name, uint64_t size) {
  TestFaultPoint(kAccessViolation);
  steps_ = 0;
  return Call(kFileBegins, 0, size, name);
}

bool Reporter::Progress(uint64_t done) {
  const uint64_t due = done / kProgressStepBytes;
  while (steps_ < due) {
    ++steps_;
    if (!Call(kProgressStep, 0, 0, " ")) return false;
  }
  return !stopped_;
}

bool Reporter::PacedProgress(uint64_t ceiling) {
  const uint64_t top = ceiling / kProgressStepBytes;
  if (top <= steps_) return !stopped_;
  // An eighth of what is left each time: the bar keeps moving however long the
  // work takes, and the rest comes when it is done.
  return Progress((steps_ + std::max<uint64_t>(1, (top - steps_) / 8)) * kProgressStepBytes);
}

bool Reporter::Tick() { return Call(kProgressStep, 0, 0, " "); }

bool Reporter::BatchEnd() { return Call(kBatchEnd, 0, 0, " "); }

bool Reporter::Message(int32_t code, std::string_view text) { return Call(kMessage, code, 0, text); }

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

}  // namespace vk::engine
