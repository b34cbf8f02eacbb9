// "VKUNZIP.DLL": extracts the entries that an UnzipCommand names under the
// current directory.
#include <windows.h>

#include "core/fault_guard.h"
#include "zipengine/common/reporter.h"
#include "zipengine/common/win_fs.h"
#include "zipengine/engine_abi.h"
#include "zipengine/unzip/extractor.h"

using namespace vk::engine;

extern "C" int32_t VK_STDCALL VkUnzipExecute(UnzipCommand* command) {
  if (!command) return kResultFailed;
  vk::fault::SetUnguardedFaultHook(&EndCallAfterFault);
  Reporter reporter(command->callback, command->caller);
  try {
    if (!command->zipName || !*command->zipName) {
      reporter.Message(kErrArchiveRead, "Kein Archivname angegeben");
      if (!reporter.Stopped()) reporter.BatchEnd();
      return kResultFailed;
    }
    ExtractRequest request;
    request.archive = AnsiToWide(command->zipName);
    request.keepDirs = command->dirNames != kFalse;
    request.overwrite = command->overwrite != kFalse;
    for (int32_t i = 0; i < command->argc; ++i) {
      if (command->specs[i] && *command->specs[i]) request.specs.push_back(AnsiToWide(command->specs[i]));
    }
    return Extract(request, reporter);
  } catch (...) {
    if (reporter.CallbackThrew()) throw;
    reporter.Message(kErrArchiveRead, "Das Archiv kann nicht entpackt werden: interner Fehler");
    if (!reporter.Stopped()) reporter.BatchEnd();
    return kResultFailed;
  }
}
