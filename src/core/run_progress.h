#pragma once
// What a run window shows of the engine's progress (the current file and the bar),
// kept apart from the window, and when the window draws it: a screen shows no more
// than a few dozen pictures a second, while the engine reports thousands of events.
#include <cstdint>
#include <string>

namespace vk {

// The name with every "/" replaced by "\".
std::string SlashToBackslash(std::string name);

// The bar and the label as the progress events leave them.
class RunProgress {
 public:
  static constexpr int kStep = 32768;  // bytes the bar advances per progress step

  // A file begins: the label names it (with backslashes) and the bar starts at 0 of
  // its size. Sizes of 2 GiB and more arrive negative; the bar then runs at its end.
  void FileStart(const std::string& name, int size);
  // One step; a step that would pass the maximum starts the bar over at 0.
  void Step();
  // The whole call is done: the bar goes to its maximum, then back to 0.
  void BatchEnd();

  const std::string& Label() const { return label_; }
  int Maximum() const { return maximum_; }
  int Position() const { return position_; }

 private:
  std::string label_;
  int maximum_ = 100;
  int position_ = 0;
};

// Decides when a window draws (or lets messages through): at its first event,
// whenever forced (a run's end), and otherwise once the interval has passed since it
// last did. Drawing the file's name and the bar a few times a second is enough to
// read them; messages go through more often, so that a click on the cancel button is
// answered within a tenth of a second. Under Wine each costs round trips to the
// server and to X, which thousands of small files would otherwise pay.
class PaintPace {
 public:
  static constexpr uint64_t kIntervalMs = 250;     // drawing
  static constexpr uint64_t kPumpIntervalMs = 50;  // letting messages through

  explicit PaintPace(uint64_t intervalMs = kIntervalMs) : intervalMs_(intervalMs) {}
  bool Due(uint64_t nowMs, bool force);
  // The next event draws again (a new run begins).
  void Restart() { drawn_ = false; }

 private:
  uint64_t intervalMs_;
  bool drawn_ = false;
  uint64_t lastMs_ = 0;
};

}  // namespace vk
