#include "win/late_library.h"

#include <stdexcept>
#include <string>

namespace vk::win {

FARPROC LateFunction(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  if (!module) module = LoadLibraryA(library);
  const FARPROC function = module ? GetProcAddress(module, name) : nullptr;
  if (!function)
    throw std::runtime_error("Die Systembibliothek " + std::string(library) + " fehlt oder hat keine Funktion " + name + ".");
  return function;
}

}  // namespace vk::win
