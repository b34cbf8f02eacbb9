#include "core/file_name_text.h"

namespace vk {

std::string FileNameOfText(const std::string& text, bool* tooLong) {
  size_t i = 0;
  for (;;) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (text.compare(i, 2, "\"\"") != 0) break;
    i += 2;
  }
  std::string name;
  bool quoted = false;
  bool more = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      break;
    } else if (name.size() == kMaxBoxFileName) {
      more = true;
      break;
    } else {
      name += c;
    }
  }
  if (tooLong) *tooLong = more;
  return name;
}

bool IsValidBoxFileName(const std::string& name) {
  return name.find_first_of(";,=+<>\"[]|") == std::string::npos;
}

std::string QuoteIfBlank(const std::string& name) {
  if (name.find(' ') != std::string::npos && name[0] != '"') return "\"" + name + "\"";
  return name;
}

}  // namespace vk
