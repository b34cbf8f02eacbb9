// A browser stand-in for the web link tests: writes the command line it was started
// with into the file that the variable VAULTKIN_BROWSER_LOG names, then ends. The text
// is written beside the file and moved into place, so a reader never sees half of it.
#include <windows.h>

#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("VAULTKIN_BROWSER_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return 1;
  const std::string part = std::string(path) + ".part";
  HANDLE file = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
  CloseHandle(file);
  return MoveFileExA(part.c_str(), path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
