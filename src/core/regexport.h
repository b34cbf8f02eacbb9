#pragma once
// Writing a registry branch in the form REGEDIT exports it ("Windows Registry Editor
// Version 5.00", UTF-16LE with byte-order mark), so that REGEDIT can import it again.
#include <cstdint>
#include <string>
#include <vector>

namespace vk {

struct RegExportValue {
  std::u16string name;  // empty: the key's default value
  uint32_t type = 0;    // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4, ...
  std::string data;     // the bytes as the registry holds them
};

struct RegExportKey {
  std::u16string path;  // full, e.g. u"HKEY_CURRENT_USER\\Software\\..."
  std::vector<RegExportValue> values;
};

// The file's bytes: every key in the given order with its values. With no keys (the
// branch does not exist), the file deletes `branch` when imported, so that importing
// it puts the registry back as it was.
std::string RegExportFile(const std::u16string& branch, const std::vector<RegExportKey>& keys);

}  // namespace vk
