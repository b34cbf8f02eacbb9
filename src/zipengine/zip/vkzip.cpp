// "VKZIP.DLL": packs the files that a ZipCommand names into an archive.
#include <windows.h>

#include <algorithm>

#include "zipengine/common/reporter.h"
#include "zipengine/common/win_fs.h"
#include "zipengine/engine_abi.h"
#include "zipengine/zip/packer.h"

using namespace vk::engine;

extern "C" int32_t VK_STDCALL VkZipExecute(ZipCommand* command) {
  if (!command) return kResultFailed;
  Reporter reporter(command->callback, command->caller);
  try {
    if (!command->zipName || !*command->zipName) {
      reporter.Message(kErrArchiveWrite, "Kein Archivname angegeben");
      if (!reporter.Stopped()) reporter.BatchEnd();
      return kResultFailed;
    }
    PackRequest request;
    request.archive = AnsiToWide(command->zipName);
    request.level = command->level;
    request.keepDirs = command->noDirNames == kFalse;
    request.recurse = command->recurseDirs != kFalse;
    for (int32_t i = 0; i < command->argc; ++i) {
      if (command->specs[i] && *command->specs[i]) request.specs.push_back(AnsiToWide(command->specs[i]));
    }
    return Pack(request, reporter);
  } catch (...) {
    if (reporter.CallbackThrew()) throw;
    reporter.Message(kErrArchiveWrite, "Das Archiv kann nicht geschrieben werden: interner Fehler");
    if (!reporter.Stopped()) reporter.BatchEnd();
    return kResultFailed;
  }
}
