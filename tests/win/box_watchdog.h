#pragma once
// The Windows tests' watchdog against unanswered boxes (see test_main.cpp): a helper
// that answers the program's modal boxes itself holds an ExpectBoxes while it runs,
// so the watchdog gives it a long grace before it steps in.
#include <atomic>

namespace vk::testwatch {

inline std::atomic<int> answerers{0};

class ExpectBoxes {
 public:
  ExpectBoxes() { ++answerers; }
  ~ExpectBoxes() { --answerers; }
  ExpectBoxes(const ExpectBoxes&) = delete;
  ExpectBoxes& operator=(const ExpectBoxes&) = delete;
};

}  // namespace vk::testwatch
