#pragma once
// The callbacks of one engine call: all on the calling thread, in file order. Once
// the callback answers -1 the call is stopped and nothing more is reported.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "zipengine/engine_abi.h"

namespace vk::engine {

// The calling thread waits for its workers no longer than this before it reports
// again, so that the caller's window can answer a click on its cancel button.
constexpr unsigned kReportPaceMs = 40;

class Reporter {
 public:
  Reporter(Callback callback, void* caller) : callback_(callback), caller_(caller) {}

  // Each returns false when the call is to stop.
  bool FileBegins(std::string_view name, uint64_t size);
  // One progress step per kProgressStepBytes of the current file done so far.
  bool Progress(uint64_t done);
  // While a worker is still at the current file, hands out part of its steps up to
  // `ceiling` bytes, one step at least when any is left below it. The steps given
  // never reach beyond what Progress is later called with.
  bool PacedProgress(uint64_t ceiling);
  bool BatchEnd();
  bool Message(int32_t code, std::string_view text);
  // A progress step without bytes behind it, now: for a wait that has lasted a pace.
  bool Tick();

  bool Stopped() const { return stopped_; }
  // How long a wait may last before the next report is due: kReportPaceMs after the
  // last callback, so that work done since then counts against the pace.
  unsigned PaceLeftMs() const;
  // The callback ended in an exception: it passes on to the caller of the entry.
  bool CallbackThrew() const { return threw_; }

 private:
  bool Call(int32_t action, int32_t code, uint64_t size, std::string_view text);

  Callback callback_;
  void* caller_;
  uint64_t steps_ = 0;
  std::chrono::steady_clock::time_point lastCall_ = std::chrono::steady_clock::now();
  bool stopped_ = false;
  bool threw_ = false;
};

// "\"name\"" for the messages.
std::string Quoted(std::string_view name);

}  // namespace vk::engine
