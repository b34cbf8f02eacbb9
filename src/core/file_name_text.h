#pragma once
// How the file name box reads a file name out of its text and writes one back.
#include <string>

namespace vk {

// The longest name the box reads out of its text.
inline constexpr size_t kMaxBoxFileName = 255;

// The text read like a command line: leading blanks and empty quote pairs are
// skipped, then the characters up to the first blank outside double quotes are
// taken, the quotes dropped. The rest of the text is ignored. At most
// kMaxBoxFileName characters are collected; *tooLong tells whether more followed.
std::string FileNameOfText(const std::string& text, bool* tooLong = nullptr);

// False when the name holds a character that the shell's file dialog reads as a
// separator or wildcard: ; , = + < > " [ ] |
bool IsValidBoxFileName(const std::string& name);

// The name enclosed in double quotes when it holds a blank and does not already
// begin with a quote, so that reading it back yields the whole name.
std::string QuoteIfBlank(const std::string& name);

}  // namespace vk
