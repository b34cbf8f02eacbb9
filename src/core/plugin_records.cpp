#include "core/plugin_records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vk::host {

std::string BlockName(const std::string& prefix, uint32_t threadId) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(threadId));
  return prefix + digits;
}

void PutShortString(uint8_t* field, const std::string& text) {
  const size_t n = std::min<size_t>(text.size(), kShortStringSize - 1);
  field[0] = static_cast<uint8_t>(n);
  std::memcpy(field + 1, text.data(), n);
  std::memset(field + 1 + n, 0, kShortStringSize - 1 - n);
}

std::string GetShortString(const uint8_t* field) {
  return std::string(reinterpret_cast<const char*>(field + 1), field[0]);
}

void PutInt32(uint8_t* at, int32_t value) {
  const uint32_t u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetInt32(const uint8_t* at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(at[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

TPluginInfo TPluginInfo::FromBytes(const uint8_t* data) {
  TPluginInfo info;
  std::memcpy(info.bytes_.data(), data, kSize);
  return info;
}

TServiceRecord TServiceRecord::FromBytes(const uint8_t* data) {
  TServiceRecord record;
  std::memcpy(record.bytes_.data(), data, kSize);
  return record;
}

std::vector<uint8_t> TerminatedBlock(const uint8_t* data, size_t size) {
  std::vector<uint8_t> block(data, data + size);
  block.push_back(0);
  return block;
}

}  // namespace vk::host
