#include "core/browser_command.h"

namespace vk {
namespace {

std::string AsciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string TrimBlanks(const std::string& s) {
  size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string RemovePlaceholders(const std::string& command) {
  std::string out = command;
  for (size_t i = 0; i < out.size();) {
    if (out[i] == '%' && i + 1 < out.size())
      out.erase(i, 2);
    else
      ++i;
  }
  return out;
}

BrowserCommand SplitBrowserCommand(const std::string& command) {
  const std::string upper = AsciiUpper(command);
  size_t end = 0;  // one past the program part; 0: none found
  for (size_t n = upper.size(); n >= 4; --n) {
    const std::string tail = upper.substr(n - 4, 4);
    if (tail == ".EXE" || tail == ".BAT" || tail == ".COM") {
      end = n;
      break;
    }
  }
  BrowserCommand result;
  if (end == 0) return result;
  result.program = upper.substr(0, end);
  if (result.program[0] == '"') result.program.erase(0, 1);
  std::string rest = TrimBlanks(upper.substr(end));
  size_t quotes = rest.find_first_not_of('"');
  result.parameters = quotes == std::string::npos ? "" : rest.substr(quotes);
  return result;
}

}  // namespace vk
