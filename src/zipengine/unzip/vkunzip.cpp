// "VKUNZIP.DLL": extracts the entries that an UnzipCommand names under the
// current directory.
#include <windows.h>

#include <optional>
#include <string_view>

#include "core/fault_guard.h"
#include "core/zip_names.h"
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
    const std::string_view mark = kUtf8SpecMark;
    const std::string_view differs = kDiffersSpecMark;
    for (int32_t i = 0; i < command->argc; ++i) {
      if (!command->specs[i] || !*command->specs[i]) continue;
      std::string_view spec = command->specs[i];
      const bool differing = spec.substr(0, differs.size()) == differs;
      if (differing) spec.remove_prefix(differs.size());
      if (spec.substr(0, mark.size()) != mark) {
        request.specs.push_back(AnsiToWide(spec));
        request.differs.push_back(differing);
        continue;
      }
      // A name the ANSI code page cannot spell; Windows names hold no wildcard, so
      // as a pattern it matches that name alone.
      const std::optional<std::u16string> utf8 = vk::zip::DecodeUtf8(spec.substr(mark.size()));
      if (!utf8 || utf8->empty() || vk::zip::HasWildcard(*utf8)) {
        reporter.Message(kErrNotInArchive, "Dateiname in UTF-8 ist ungültig");
        if (reporter.Stopped()) return kResultCancelled;
        continue;
      }
      request.specs.push_back(FromU16(*utf8));
      request.differs.push_back(differing);
    }
    return Extract(request, reporter);
  } catch (...) {
    if (reporter.CallbackThrew()) throw;
    reporter.Message(kErrArchiveRead, "Das Archiv kann nicht entpackt werden: interner Fehler");
    if (!reporter.Stopped()) reporter.BatchEnd();
    return kResultFailed;
  }
}
