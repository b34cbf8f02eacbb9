#include "zipengine/common/test_fault.h"

#include <atomic>
#include <stdexcept>

#include "core/zip_workers.h"

namespace vk::engine {

namespace {
std::atomic<int32_t> g_fault{kNoFault};
}  // namespace

void TestFaultPoint() {
  int32_t expected = kWorkerThrows;
  if (g_fault.compare_exchange_strong(expected, kNoFault)) throw std::runtime_error("test fault");
  TestFaultPoint(kWorkerAccessViolation);
}

void TestFaultPoint(TestFault fault) {
  if (!TestFaultMet(fault)) return;
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

bool TestFaultMet(TestFault fault) {
  int32_t expected = fault;
  return fault != kNoFault && g_fault.compare_exchange_strong(expected, kNoFault);
}

}  // namespace vk::engine

extern "C" void VK_STDCALL VkSetTestFault(int32_t fault) {
  vk::engine::g_fault = fault == vk::engine::kThreadStartFails ? vk::engine::kNoFault : fault;
  vk::zip::WorkerPool::FailNextStartForTesting(fault == vk::engine::kThreadStartFails);
}
