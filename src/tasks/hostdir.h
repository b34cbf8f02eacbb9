#pragma once
// The host's installation directory, and the two directory helpers that the task
// files and the backup run use.
#include <string>

namespace vk::tasks {

// The host's installation directory without a trailing backslash: the registry value
// "ProgDir" under HKCU\Software\Gray.Fern.Labs\Kestrone, else the directory chosen
// earlier in this run, else the folder the user names now. Empty when none is known
// (the user cancelled). A "ProgDir" that is no string raises ERegistryError
// "Ungültiger Datentyp für 'ProgDir'".
std::string GetHostDir();

// Forgets the directory the user named, so a test can start over.
void ResetRememberedHostDirForTesting();

// True when the path's attributes can be read and mark a directory.
bool DirExists(const std::string& path);

// Creates the directory with every missing parent. An empty path raises EInOutError
// "Das Verzeichnis kann nicht erstellt werden"; a directory that cannot be created
// is left to the file operation that follows to report.
void MakeDirs(const std::string& path);

// The path up to and including its last backslash or colon ("C:\a\" for "C:\a\b").
std::string ExtractFilePath(const std::string& path);
// The same without the final backslash, unless that follows a colon or another
// backslash ("C:\a" for "C:\a\b", "C:\" for "C:\b").
std::string ExtractFileDir(const std::string& path);

}  // namespace vk::tasks
