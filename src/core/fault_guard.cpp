#include "core/fault_guard.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdint>

namespace vk::fault {

namespace {

struct Guard {
  void* landing[5];  // __builtin_setjmp's buffer
  Module module;
  Guard* outer;
};

// A TLS slot rather than thread_local: the handler may run on a thread that has
// never touched the guard, and must not allocate there.
DWORD g_slot = TLS_OUT_OF_INDEXES;
void (*g_hook)() = nullptr;
Module g_self;
const char g_here = 0;

bool Inside(const Module& m, uintptr_t at) { return at >= m.begin && at < m.end; }

[[noreturn]] void Land() {
  auto* guard = static_cast<Guard*>(TlsGetValue(g_slot));
  __builtin_longjmp(guard->landing, 1);
}

LONG CALLBACK Handler(EXCEPTION_POINTERS* e) {
  const DWORD code = e->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
      code != EXCEPTION_INT_DIVIDE_BY_ZERO)
    return EXCEPTION_CONTINUE_SEARCH;
  const auto at = reinterpret_cast<uintptr_t>(e->ExceptionRecord->ExceptionAddress);
  const DWORD lastError = GetLastError();  // TlsGetValue clears it
  auto* guard = static_cast<Guard*>(TlsGetValue(g_slot));
  if (guard && Inside(guard->module, at)) {
    // Resume in Land as if it had been called, on the faulting stack below its frame:
    // the abandoned frames stay intact until Land jumps above them.
    CONTEXT* c = e->ContextRecord;
#ifdef _WIN64
    c->Rsp = ((c->Rsp - 256) & ~DWORD64{15}) - sizeof(void*);
    c->Rip = reinterpret_cast<DWORD64>(&Land);
#else
    c->Esp = ((c->Esp - 256) & ~DWORD{15}) - sizeof(void*);
    c->Eip = reinterpret_cast<DWORD>(&Land);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!guard && g_hook && Inside(g_self, at)) g_hook();
  SetLastError(lastError);
  return EXCEPTION_CONTINUE_SEARCH;
}

// The handler stays for the module's life: the engines and the program are bound at
// load time and never unloaded. Registered first, so that a module reached later in
// a call (the engine) sees the fault before the one that called it.
void Register() {
  static const bool registered = [] {
    g_slot = TlsAlloc();
    g_self = ModuleAt(&g_here);
    return g_slot != TLS_OUT_OF_INDEXES && AddVectoredExceptionHandler(/*First=*/1, &Handler) != nullptr;
  }();
  (void)registered;
}

}  // namespace

Module ModuleAt(const void* address) {
  HMODULE handle = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &handle))
    return {};
  const auto* image = reinterpret_cast<const char*>(handle);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  return {reinterpret_cast<uintptr_t>(image), reinterpret_cast<uintptr_t>(image) + nt->OptionalHeader.SizeOfImage};
}

__attribute__((noinline)) bool RunGuarded(Module module, void (*body)(void*), void* arg) {
  Register();
  Guard guard{};
  guard.module = module;
  guard.outer = static_cast<Guard*>(TlsGetValue(g_slot));
  TlsSetValue(g_slot, &guard);
  volatile bool finished = false;
  if (__builtin_setjmp(guard.landing) == 0) {
    body(arg);
    finished = true;
  }
  TlsSetValue(g_slot, guard.outer);
  return finished;
}

void SetUnguardedFaultHook(void (*hook)()) {
  Register();
  g_hook = hook;
}

}  // namespace vk::fault

#else

namespace vk::fault {

Module ModuleAt(const void*) { return {}; }

bool RunGuarded(Module, void (*body)(void*), void* arg) {
  body(arg);
  return true;
}

void SetUnguardedFaultHook(void (*)()) {}

}  // namespace vk::fault

#endif
