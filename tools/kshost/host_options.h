#pragma once
// The stand-in host's settings, from its command line and script files.
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kshost {

// One scripted action; the words after the time, e.g. {"post", "2048"}.
struct Action {
  std::vector<std::string> words;
};

enum class Trigger { kStart, kConnect, kRegister };

struct Timed {
  Trigger trigger;
  int registration;  // for kRegister: after the n-th registration (1 = the first)
  uint32_t delayMs;
  Action action;
};

struct Options {
  int32_t version = 8;
  std::string logPath;
  std::string title = "Kestrone 95";
  bool refuse = false;
  uint32_t hangConnectMs = 0;
  std::set<uint32_t> noReply;               // request numbers never answered
  std::map<uint32_t, uint32_t> replyDelay;  // request number -> delay in ms
  std::vector<int32_t> serviceIds;          // handed out in order, then counting on
  std::vector<uint32_t> unregisterCodes;    // one per 1038, the last one repeats
  bool holdInfoBlock = false;
  bool holdRegisterBlock = false;
  uint32_t probeAfterMs = 500;
  bool exitOnGoodbye = false;
  std::string startPlugin;
  std::string pluginArgs;
  std::string progDir;
  bool setProgDir = false;
  std::vector<Timed> timed;
};

class OptionError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses the arguments (without the program name); --script files are read in place.
Options ParseOptions(const std::vector<std::string>& args);

// Decimal, negative decimal or 0x hexadecimal; raises OptionError.
int64_t ParseNumber(const std::string& text);

// Splits a script line like a command line: blanks separate, double quotes group.
std::vector<std::string> SplitWords(const std::string& line);

// Checks an action's words; raises OptionError for an unknown or malformed one.
void CheckAction(const Action& action);

}  // namespace kshost
