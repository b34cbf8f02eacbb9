#pragma once
// The command line that the registry holds for opening HTML files, taken apart into
// the browser's program file and its parameters.
#include <string>

namespace vk {

// Removes every "%" that has a character after it together with that character
// ("%1" disappears; "%%1" leaves "1"). A "%" at the very end stays.
std::string RemovePlaceholders(const std::string& command);

struct BrowserCommand {
  std::string program;     // upper case, without a leading double quote
  std::string parameters;  // upper case; blanks trimmed, then leading double quotes removed
};

// Splits the command after the right-most ".EXE", ".BAT" or ".COM" (compared in upper
// case). A command that holds none of them gives an empty program: there is nothing
// that could safely be started.
BrowserCommand SplitBrowserCommand(const std::string& command);

}  // namespace vk
