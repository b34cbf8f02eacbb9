#pragma once
// Ends a piece of work at a hardware fault inside one module, instead of the whole
// process. The frames between the fault and the guard are abandoned, not unwound:
// what they own leaks, which is the price of going on after a fault at all.
#include <cstdint>

namespace vk::fault {

// The image of one module: found once, since the look-up takes the loader's lock.
struct Module {
  uintptr_t begin = 0;
  uintptr_t end = 0;
};
// The module that holds `address` (of any object or code in it, or its handle).
Module ModuleAt(const void* address);

// Runs body(arg) on this thread and returns true. An access violation, illegal
// instruction or integer division by zero at an address inside `module`, while body
// runs on this thread, ends body there and returns false. Any other fault is left
// to the process as before. Natively this only runs body.
bool RunGuarded(Module module, void (*body)(void*), void* arg);

// Called on a faulting thread that has no guard in this module, for a fault inside
// this module, before the guard of a calling module takes the thread back.
void SetUnguardedFaultHook(void (*hook)());

}  // namespace vk::fault
