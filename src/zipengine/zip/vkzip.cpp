// "VKZIP.DLL": packs the files that a ZipCommand names into an archive.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/zip_names.h"
#include "core/fault_guard.h"
#include "zipengine/common/reporter.h"
#include "zipengine/common/win_fs.h"
#include "zipengine/engine_abi.h"
#include "zipengine/zip/packer.h"

using namespace vk::engine;

namespace {

// The event before an awaited file's name ("<value>" kAwaitedSpecMark "<name>"),
// leaving the name; null when there is none.
HANDLE TakeEvent(std::string_view* spec) {
  const size_t end = spec->find(kAwaitedSpecMark);
  if (end == std::string_view::npos || end == 0) return nullptr;
  const uint64_t value = std::strtoull(std::string(spec->substr(0, end)).c_str(), nullptr, 10);
  spec->remove_prefix(end + 1);
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

}  // namespace

extern "C" int32_t VK_STDCALL VkZipExecute(ZipCommand* command) {
  if (!command) return kResultFailed;
  vk::fault::SetUnguardedFaultHook(&EndCallAfterFault);
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
    const std::string_view mark = kUtf8SpecMark;
    for (int32_t i = 0; i < command->argc; ++i) {
      if (!command->specs[i] || !*command->specs[i]) continue;
      std::string_view spec = command->specs[i];
      const std::string_view kind = spec.substr(0, 1);
      const bool reference = kind == kReferenceSpecMark, folder = kind == kFolderSpecMark,
                 excluded = kind == kExcludedSpecMark, awaited = kind == kAwaitedSpecMark;
      if (reference || folder || excluded || awaited) spec.remove_prefix(1);
      const HANDLE written = awaited ? TakeEvent(&spec) : nullptr;
      if (awaited && !written) {
        reporter.Message(kErrFileNotFound, "Erwartete Datei ohne Ereignis");
        if (reporter.Stopped()) return kResultCancelled;
        continue;
      }
      const bool literal = spec.substr(0, mark.size()) == mark;
      std::optional<std::u16string> utf8;
      if (literal) utf8 = vk::zip::DecodeUtf8(spec.substr(mark.size()));
      if (literal && (!utf8 || utf8->empty())) {
        reporter.Message(kErrFileNotFound, "Dateiname in UTF-8 ist ungültig");
        if (reporter.Stopped()) return kResultCancelled;
        continue;
      }
      std::wstring name = literal ? FromU16(*utf8) : AnsiToWide(spec);
      if (reference) {
        request.reference = std::move(name);
        continue;
      }
      if (excluded) {
        request.excluded.push_back(std::move(name));
        continue;
      }
      request.specs.push_back(std::move(name));
      request.literal.push_back(literal || awaited);
      request.folder.push_back(folder);
      request.awaited.push_back(written);
    }
    return Pack(request, reporter);
  } catch (...) {
    if (reporter.CallbackThrew()) throw;
    reporter.Message(kErrArchiveWrite, "Das Archiv kann nicht geschrieben werden: interner Fehler");
    if (!reporter.Stopped()) reporter.BatchEnd();
    return kResultFailed;
  }
}
