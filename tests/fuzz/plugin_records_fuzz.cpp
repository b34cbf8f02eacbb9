// The host's records: any bytes read through the accessors, and what they read
// writes back to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/plugin_records.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vk::host;
  uint8_t buffer[TPluginInfo::kSize] = {};
  std::memcpy(buffer, data, size < sizeof buffer ? size : sizeof buffer);

  const TPluginInfo info = TPluginInfo::FromBytes(buffer);
  TPluginInfo copy;
  copy.SetPIName(info.PIName());
  copy.SetPICopyright(info.PICopyright());
  copy.SetPIDescription(info.PIDescription());
  copy.SetPIVersion(info.PIVersion());
  copy.SetPIRevision(info.PIRevision());
  copy.SetPIAPIRequiered(info.PIAPIRequiered());
  copy.SetPIAPISupported(info.PIAPISupported());
  FUZZ_CHECK(copy.PIName() == info.PIName() && copy.PIDescription() == info.PIDescription() &&
             copy.PICopyright() == info.PICopyright() && copy.PIVersion() == info.PIVersion() &&
             copy.PIRevision() == info.PIRevision() &&
             copy.PIAPISupported() == info.PIAPISupported() &&
             copy.PIAPIRequiered() == info.PIAPIRequiered());

  const TServiceRecord record = TServiceRecord::FromBytes(buffer);
  TServiceRecord service;
  service.SetTitle(record.Title());
  service.SetDescription(record.Description());
  service.SetCommand(record.Command());
  service.SetListenerThreadID(record.ListenerThreadID());
  FUZZ_CHECK(service.Title() == record.Title() && service.Description() == record.Description() &&
             service.Command() == record.Command() &&
             service.ListenerThreadID() == record.ListenerThreadID());
  const auto block = TerminatedBlock(record.Bytes(), TServiceRecord::kSize);
  FUZZ_CHECK(block.size() == kRegistrationBlockSize && block.back() == 0);
  FUZZ_CHECK(BlockName(kPluginInfoPrefix, static_cast<uint32_t>(record.Command())).size() ==
             sizeof kPluginInfoPrefix - 1 + 8);
  return 0;
}
