#pragma once
// Entry names: how a file's name is stored (ASCII as is, anything else as UTF-8
// with flag bit 11), how a stored name is read back (UTF-8 with bit 11 or the
// Info-ZIP Unicode path record, else the system's OEM code page), and which names extraction
// refuses because they could reach outside the target directory or name a device.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/zip_format.h"

namespace vk::zip {

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
std::optional<std::u16string> DecodeUtf8(std::string_view bytes);
std::string EncodeUtf8(std::u16string_view text);
// The upper half (0x80..0xFF) of an 8-bit OEM code page.
using OemTable = std::array<char16_t, 128>;
extern const OemTable kCp437;
extern const OemTable kCp850;
// The table of a code page number; 437 for any the program does not carry.
const OemTable& OemTableFor(unsigned codePage);
std::u16string DecodeOem(std::string_view bytes, const OemTable& table);
std::u16string DecodeCp437(std::string_view bytes);
std::u16string DecodeCp1252(std::string_view bytes);
// Exact conversion; nullopt when a character has no CP1252 byte.
std::optional<std::string> EncodeCp1252(std::u16string_view text);

bool IsAscii(std::string_view bytes);

struct StoredName {
  std::string bytes;
  bool utf8 = false;  // set general-purpose flag bit 11
};
// A relative name (either separator) as it goes into the archive, with "/".
StoredName StoreName(std::u16string_view name);

// Fills the entry's name, flags, "made by" host and external attributes from its
// name and DOS attributes. A UTF-8 name is marked as made on Unix (with the Unix
// mode beside the DOS attributes): Info-ZIP's unzip reads the names of DOS-made
// entries as OEM text even when bit 11 says UTF-8.
void SetNameAndAttributes(Entry* entry, std::u16string_view name, uint32_t dosAttributes);

// The name an entry stands for: bit 11 means UTF-8; without it, a valid Info-ZIP
// Unicode path record (whose CRC matches the stored bytes) wins, then valid UTF-8
// from a Unix host, else the OEM code page (what DOS and Windows tools write).
// nullopt for bytes that are not valid UTF-8 although bit 11 says so.
std::optional<std::u16string> DecodeEntryName(const Entry& entry, const OemTable& oem = kCp437);
// The entry's name with "/" as separator, its bytes read as OEM text where they do
// not decode: the name an archive's files are matched by.
std::u16string EntryPathName(const Entry& entry, const OemTable& oem);

// Why extraction refuses a name; kOk when it may be written.
enum class NameProblem {
  kOk,
  kEmpty,
  kAbsolute,       // starts with "/" (also a UNC prefix)
  kDrive,          // "X:"
  kColon,          // ":" elsewhere: alternate data streams
  kDotStep,        // a "." or ".." step
  kEmptyStep,      // "a//b"
  kControl,        // a control character
  kInvalidChar,    // one of < > " | ? *
  kTrailingDotOrBlank,
  kReservedDevice, // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without extension
};
// Checks a name after every "\" was turned into "/"; a directory entry may end in
// one "/".
NameProblem CheckExtractName(std::u16string_view name);
// The German reason shown in the refusal message.
const char* NameProblemText(NameProblem problem);

// Upper-case form for comparisons that ignore case: the simple upper-case mapping
// of every letter of the Basic Multilingual Plane, as the Windows file system
// compares names.
std::u16string FoldCase(std::u16string_view text);
// A case fold to use in its place; the Windows side passes the system's own.
using CaseFold = std::u16string (*)(std::u16string_view);
// DOS-style wildcards ("*", "?"), ignoring case; "*.*" matches every name.
bool MatchWildcard(std::u16string_view pattern, std::u16string_view name);
bool HasWildcard(std::u16string_view text);

std::u16string SlashesToForward(std::u16string_view text);

}  // namespace vk::zip
