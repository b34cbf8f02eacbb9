// Drives the archive engine through its command records, as the archive component
// does, for the benchmark and the interoperability tests:
//   engine_run zip ARCHIVE [-l LEVEL] [-r] [-j] [-v] [-s N] [-C DIR] [@LIST | SPEC...]
//   engine_run unzip ARCHIVE [-j] [-n] [-v] [-s N] [-C DIR] [@LIST | SPEC...]
// -r recurse, -j no directory names, -n do not overwrite, -v print every callback,
// -s N cancel (answer -1) when the Nth file begins, -C work in DIR, @LIST read the
// specifications from a file (one per line, ANSI).
// Prints the result, the wall time of the engine call, when its first file and its
// read-back check began, the process's peak working set (GetProcessMemoryInfo) and
// the longest silence of each phase: the longest wait
// between two callbacks (or the call's start or end) while the engine lists the
// files ("list"; for an extraction, reads the archive's directory), packs ("pack"),
// reads the archive back ("check"), extracts ("extract"), and after a cancel until
// the call returns ("stop"). A run window can answer a click no sooner.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "zipengine/engine_abi.h"

using namespace vk::engine;

namespace {

struct Counts {
  long files = 0, steps = 0, ends = 0, messages = 0;
  bool verbose = false;
  // The longest wait between two callbacks: a run window can answer a click no
  // sooner than at the next one.
  LONGLONG last = 0, longestGap = 0;
  // The same per phase: a gap counts to the phase it began in.
  std::string phase = "list", packPhase = "pack";
  std::map<std::string, LONGLONG> phaseGaps;
  long stopAt = 0;  // -s
  // Where it was: the file then current ("-" before the first) and the action
  // that ended it.
  std::string file = "-", gapFile = "-";
  int32_t gapEnd = 0;
  // The peak working set when the read-back check began, and when the first file did.
  size_t peakBeforeCheck = 0, peakAtFirstFile = 0;
  // When the first file began and when the read-back check did (counter ticks).
  LONGLONG firstFileAt = 0, checkAt = 0;
} counts;

size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  return memory.PeakWorkingSetSize;
}

// Closes the gap that ends now.
void GapEnds(LONGLONG now) {
  LONGLONG& phaseGap = counts.phaseGaps[counts.phase];
  phaseGap = std::max(phaseGap, now - counts.last);
  counts.last = now;
}

int32_t VK_STDCALL OnCallback(CallbackInfo* info) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (counts.last && now.QuadPart - counts.last > counts.longestGap) {
    counts.longestGap = now.QuadPart - counts.last;
    counts.gapFile = counts.file;
    counts.gapEnd = info->action;
  }
  GapEnds(now.QuadPart);
  bool stop = false;
  if (info->action == kFileBegins) {
    counts.file = info->text;
    counts.phase = counts.file == kCheckLabel ? "check" : counts.packPhase;
    if (counts.file == kCheckLabel) {
      counts.peakBeforeCheck = PeakWorkingSet();
      counts.checkAt = now.QuadPart;
    }
    if (counts.files == 0) {
      counts.peakAtFirstFile = PeakWorkingSet();
      counts.firstFileAt = now.QuadPart;
    }
    if (counts.stopAt && counts.files + 1 == counts.stopAt) {
      stop = true;
      counts.phase = "stop";
    }
  }
  switch (info->action) {
    case kFileBegins: ++counts.files; break;
    case kProgressStep: ++counts.steps; break;
    case kBatchEnd: ++counts.ends; break;
    case kMessage: ++counts.messages; break;
    default: break;
  }
  if (counts.verbose || info->action == kMessage) {
    if (info->action == kFileBegins)
      std::printf("1 %ld %s\n", static_cast<long>(info->fileSize), info->text);
    else if (info->action == kMessage)
      std::printf("4 %d %s\n", info->errorCode, info->text);
    else
      std::printf("%d\n", info->action);
  }
  QueryPerformanceCounter(&now);  // the callback's own printing is no silence of the engine's
  counts.last = now.QuadPart;
  return stop ? -1 : 0;
}

// Buffers of the sizes the component hands over: at least 256 bytes each.
std::vector<char> Buffer(const std::string& text) {
  std::vector<char> b(std::max<size_t>(kNameBuffer, text.size() + 1), '\0');
  std::memcpy(b.data(), text.data(), text.size());
  return b;
}

int Usage() {
  std::fprintf(stderr, "usage: engine_run zip|unzip ARCHIVE [options] [@LIST | SPEC...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string mode = argv[1];
  if (mode != "zip" && mode != "unzip") return Usage();
  const std::string archive = argv[2];
  int level = 9;
  bool recurse = false, junk = false, noOverwrite = false;
  std::vector<std::string> specs;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-l" && i + 1 < argc) level = std::atoi(argv[++i]);
    else if (a == "-r") recurse = true;
    else if (a == "-j") junk = true;
    else if (a == "-n") noOverwrite = true;
    else if (a == "-v") counts.verbose = true;
    else if (a == "-s" && i + 1 < argc) counts.stopAt = std::atol(argv[++i]);
    else if (a == "-C" && i + 1 < argc) SetCurrentDirectoryA(argv[++i]);
    else if (a.size() > 1 && a[0] == '@') {
      std::ifstream list(a.substr(1), std::ios::binary);
      for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) specs.push_back(line);
      }
    } else {
      specs.push_back(a);
    }
  }

  std::vector<char> name = Buffer(archive);
  std::vector<std::vector<char>> buffers;
  for (const auto& s : specs) buffers.push_back(Buffer(s));
  // The record's slot array goes on beyond its 4,097 slots when there are more.
  const size_t slots = std::max<size_t>(kSpecSlots, buffers.size());
  std::vector<char*> slotStorage;

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  int32_t result;
  if (mode == "unzip") counts.packPhase = "extract";
  if (mode == "zip") {
    const size_t bytes = sizeof(ZipCommand) + (slots - kSpecSlots) * sizeof(char*);
    std::vector<char> record(bytes, 0);
    auto* c = reinterpret_cast<ZipCommand*>(record.data());
    c->caller = &counts;
    c->version = 110;
    c->callback = OnCallback;
    c->minusOne44 = c->minusOne56 = c->minusOne80 = kTrue;
    c->level = level;
    c->noDirNames = junk ? kTrue : kFalse;
    c->recurseDirs = recurse ? kTrue : kFalse;
    c->argc = static_cast<int32_t>(buffers.size());
    c->zipName = name.data();
    c->seven = 7;
    for (size_t i = 0; i < buffers.size(); ++i) c->specs[i] = buffers[i].data();
    QueryPerformanceCounter(&start);
    counts.last = start.QuadPart;
    result = VkZipExecute(c);
    QueryPerformanceCounter(&end);
    GapEnds(end.QuadPart);
  } else {
    const size_t bytes = sizeof(UnzipCommand) + (slots - kSpecSlots) * sizeof(char*);
    std::vector<char> record(bytes, 0);
    auto* c = reinterpret_cast<UnzipCommand*>(record.data());
    c->caller = &counts;
    c->version = 110;
    c->callback = OnCallback;
    c->minusOne40 = kTrue;
    c->dirNames = junk ? kFalse : kTrue;
    c->overwrite = noOverwrite ? kFalse : kTrue;
    c->argc = static_cast<int32_t>(buffers.size());
    c->zipName = name.data();
    c->seven = 7;
    for (size_t i = 0; i < buffers.size(); ++i) c->specs[i] = buffers[i].data();
    QueryPerformanceCounter(&start);
    counts.last = start.QuadPart;
    result = VkUnzipExecute(c);
    QueryPerformanceCounter(&end);
    GapEnds(end.QuadPart);
  }
  const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
  std::string gaps;
  for (const auto& [phase, gap] : counts.phaseGaps)
    gaps += (gaps.empty() ? "" : ",") + phase + ":" + std::to_string(1000 * gap / frequency.QuadPart);
  std::printf("gaps_ms=%s ", gaps.c_str());
  // Seconds from the call's start: the first file begun, the check begun.
  const auto at = [&](LONGLONG t) { return t ? static_cast<double>(t - start.QuadPart) / frequency.QuadPart : 0.0; };
  std::printf("first_file_s=%.3f check_s=%.3f ", at(counts.firstFileAt), at(counts.checkAt));
  std::printf("result=%d seconds=%.3f peak_working_set=%llu files=%ld steps=%ld ends=%ld messages=%ld "
              "longest_gap_ms=%.0f gap_in=%s gap_ended_by=%d peak_at_first_file=%llu peak_before_check=%llu\n",
              result, seconds, static_cast<unsigned long long>(PeakWorkingSet()), counts.files,
              counts.steps, counts.ends, counts.messages, 1000.0 * counts.longestGap / frequency.QuadPart,
              counts.gapFile.c_str(), counts.gapEnd, static_cast<unsigned long long>(counts.peakAtFirstFile),
              static_cast<unsigned long long>(counts.peakBeforeCheck));
  std::fflush(stdout);
  return result < 0 ? 1 : 0;
}
