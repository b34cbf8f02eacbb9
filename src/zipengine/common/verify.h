#pragma once
// The read-back check of a freshly written archive, before it replaces anything.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/zip_format.h"
#include "core/zip_workers.h"

namespace vk::engine {

// Checks an archive while it is written, so that the check ends soon after the last
// byte: the writer hands over what the file holds, and workers of the check's own
// read each entry back from the file (never from the writer's memory). Data the
// writer proved in memory as it compressed them (Entry::writtenCrc, also when taken
// over from an earlier archive that records it) must be there byte for byte; all
// others are inflated to their size and CRC-32. Once the writer has ended, the directory read back must list exactly
// the entries written.
// While the writer goes on, the workers run below its priority and take the
// processor time that the compression leaves.
class ReadBackCheck {
 public:
  explicit ReadBackCheck(std::wstring path);
  // Stops the check; its workers are done with the file when this returns.
  ~ReadBackCheck();
  ReadBackCheck(const ReadBackCheck&) = delete;
  ReadBackCheck& operator=(const ReadBackCheck&) = delete;

  // The writer's, on its thread. `written` holds every entry complete so far, in
  // file order; the file holds the archive's first `extent` bytes for good. An entry
  // is read once the file holds it up to where the next one begins.
  void Written(const std::vector<zip::Entry>& written, uint64_t extent);
  // The last of them: the entries' data end at `dataEnd`, and the file holds the
  // whole archive, its directory and end record included.
  void Ended(const std::vector<zip::Entry>& written, uint64_t dataEnd);
  // Bytes of entry data checked so far.
  uint64_t Checked() const { return checked_.load(); }
  // Waits until every entry and the directory are checked. Returns the German reason
  // of the first failure, or an empty text. `progress`, when given, is called on this
  // thread with the bytes checked so far: at least once, whenever another MiB is done,
  // and after every kReportPaceMs without; when it answers false the check stops,
  // *stopped is set and the result is empty.
  std::string Outcome(const std::function<bool(uint64_t)>& progress, bool* stopped);

 private:
  struct Reader;
  // Consecutive entries [first, first + entries.size()), which lie before `until` in
  // the file; or the directory.
  struct Run {
    std::vector<zip::Entry> entries;
    size_t first = 0;
    uint64_t until = 0;
    bool directory = false;
  };
  void HandOver(uint64_t dataEnd);
  // Queues the run, and sets workers at the queue up to the limit.
  void Queue(Run run);
  // A worker's: checks the runs queued until there are none.
  void Drain();
  void CheckRun(std::vector<zip::Entry>& run, size_t first, uint64_t until);
  void CheckDirectory();
  void Report(std::string problem, size_t index);

  const std::wstring path_;
  // The writer's: what it has handed over so far.
  std::vector<zip::Entry> written_;
  size_t handed_ = 0;
  uint64_t extent_ = 0;

  std::atomic<bool> ended_{false};
  std::atomic<bool> failed_{false};  // a failure was found, or the check stops
  std::atomic<uint64_t> checked_{0};
  zip::Signal signal_;
  // Under signal_'s lock:
  std::deque<Run> queue_;
  unsigned active_ = 0;   // workers at the queue
  unsigned limit_ = 1;    // how many may be: one fewer than processors until the writer ends
  unsigned pending_ = 0;  // runs queued or being checked
  std::string reason_;
  size_t badIndex_ = SIZE_MAX;
  std::vector<std::unique_ptr<Reader>> spares_;
  std::unique_ptr<zip::WorkerPool> pool_;  // last: goes first
};

// Only the directory: the one read back lists exactly the entries written. For an
// archive whose data need not be read back before the call returns.
std::string VerifyDirectory(const std::wstring& path, const std::vector<zip::Entry>& written);

}  // namespace vk::engine
