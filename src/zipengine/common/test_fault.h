#pragma once
// Faults that the engine tests can make the next engine call meet, to see that an
// internal failure ends the call with a report instead of a hang or a crash. Each
// library has its own copy, set through its export of ordinal 3.
#include <cstdint>

#include "zipengine/engine_abi.h"

namespace vk::engine {

enum TestFault : int32_t {
  kNoFault = 0,
  kWorkerThrows = 1,      // the first task a worker takes up throws
  kThreadStartFails = 2,  // no worker thread can be started
};

// A worker's first step: throws once when kWorkerThrows is set.
void TestFaultPoint();

}  // namespace vk::engine

// Ordinal 3 of both libraries. Takes effect for the next call, once.
extern "C" void VK_STDCALL VkSetTestFault(int32_t fault);
