#pragma once
// Reaching the engine's test faults from the Windows tests, and the system's wording of
// an error as the engine puts it into its messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "zipengine/common/test_fault.h"

namespace vk::testing {

// Each engine library has the seam at its ordinal 3; it takes effect for the next call.
inline void SetEngineFault(const char* library, int32_t fault) {
  using SetTestFault = void(VK_STDCALL*)(int32_t);
  auto set = reinterpret_cast<SetTestFault>(GetProcAddress(GetModuleHandleA(library), MAKEINTRESOURCEA(3)));
  ASSERT_NE(set, nullptr) << library;
  set(fault);
}

// The system's text for `error`, without its line break.
inline std::string SystemText(DWORD error) {
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                 sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace vk::testing
