#pragma once
// The one-line encoding of a list of strings that the task files and the list of
// included directories use, the Key=Value lookup in such a list, and the removal
// of one pair of enclosing double quotes. Texts are 8-bit ANSI (code page 1252).
#include <string>
#include <vector>

namespace vk {

using StringList = std::vector<std::string>;

// Writes the list as one line: entries separated by commas, an entry quoted when it
// holds a control character, a blank, a double quote or a comma, and an empty last
// entry (a list of one empty string becomes `""`); an empty list an empty text.
std::string WriteCommaList(const StringList& items);

// Reads a line written by WriteCommaList (and the looser lines people type):
// blanks and control characters around entries are skipped, quoted entries may hold
// anything, two commas in a row give an empty entry. A NUL byte ends the text.
StringList ReadCommaList(const std::string& text);

// The value of the first entry "key=value" whose key equals `key` without regard to
// case; empty when no entry matches.
std::string ValueOfKey(const StringList& items, const std::string& key);

// Removes one pair of enclosing double quotes and reduces doubled quotes inside to
// single ones; any text not enclosed in quotes comes back unchanged.
std::string Unquote(const std::string& text);

// Case-insensitive equality under code page 1252: ASCII and the accented letters
// (À..Þ with à..þ, Š/š, Œ/œ, Ž/ž, Ÿ/ÿ). ß has no upper-case partner.
bool SameTextAnsi(const std::string& a, const std::string& b);
char LowerAnsi(char c);

}  // namespace vk
