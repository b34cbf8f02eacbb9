#pragma once
// TWebLink opens a web address in the user's default browser: the program that the
// registry names for opening HTML files, started with the address in front of that
// program's own parameters.
#include <string>

namespace vk::widgets {

class TWebLink {
 public:
  TWebLink();

  std::string Url;    // what OpenUrl opens
  std::string EMail;  // kept with the link; nothing reads it

  // True when the browser was started; false when none is registered or the shell
  // refused to start it. Shows no message either way.
  bool OpenUrl() const;

  struct Browser {
    std::string program, parameters;  // both upper case; empty when none is registered
  };
  static Browser FindBrowser();
  // The command registered for ".HTM", ".HTML", ".SHTML" or ".SHTM" (first found),
  // placeholders removed; empty when none is registered.
  static std::string ReadBrowserCommand();
};

}  // namespace vk::widgets
