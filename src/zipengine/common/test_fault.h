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
  kDiskFullInData = 3,    // the archive's first write of file data finds the disk full
  kDiskFullInDirectory = 4,  // the first write of its central directory finds the disk full
  kDamagedWhenWritten = 5,   // a byte of the last entry's data changes before the read-back
  kSourceVanishes = 6,    // the first file to be packed is gone when it is opened
  // The first whole file of 1 MiB or more waits in its compression until the call is stopped, and fails
  // after half a minute: only a call that keeps reporting meanwhile can be stopped.
  kCompressionHeld = 7,
  kAccessViolation = 8,        // the calling thread writes to address 0 at the first file it announces
  kWorkerAccessViolation = 9,  // so does the first task a worker takes up
  // Files changed just before the call count as settled: their times are recorded.
  kFreshFilesSettled = 10,
  // A byte of the first entry's data changes once the file holds it, while the rest is written.
  kDamagedWhileWritten = 11,
  // The listing waits before its first folder until the call is stopped, and goes on
  // after half a minute: only a call that keeps reporting meanwhile can be stopped.
  kListingHeld = 12,
};

// A worker's first step: throws once when kWorkerThrows is set, faults once when
// kWorkerAccessViolation is.
void TestFaultPoint();
// Faults once when `fault` (an access violation) is the one set.
void TestFaultPoint(TestFault fault);

// True once, for the call that meets the fault: when `fault` is the one set.
bool TestFaultMet(TestFault fault);

}  // namespace vk::engine

// Ordinal 3 of both libraries. Takes effect for the next call, once.
extern "C" void VK_STDCALL VkSetTestFault(int32_t fault);
