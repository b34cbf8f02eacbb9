#include "host_options.h"

#include <fstream>

namespace kshost {

int64_t ParseNumber(const std::string& text) {
  try {
    size_t used = 0;
    int64_t value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
      value = static_cast<int64_t>(std::stoull(text.substr(2), &used, 16)), used += 2;
    else
      value = std::stoll(text, &used, 10);
    if (used == text.size()) return value;
  } catch (const std::exception&) {
  }
  throw OptionError("not a number: " + text);
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t' || c == '\r' || c == '\n') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) throw OptionError("unbalanced quote: " + line);
  if (inWord) words.push_back(word);
  return words;
}

void CheckAction(const Action& action) {
  const auto& w = action.words;
  if (w.empty()) throw OptionError("missing action");
  const std::string& verb = w[0];
  size_t minArgs = 0, maxArgs = 0;
  if (verb == "post") minArgs = 1, maxArgs = 3;
  else if (verb == "command" || verb == "version") minArgs = maxArgs = 1;
  else if (verb == "info" || verb == "depart" || verb == "exit" || verb == "quit" || verb == "kill") {}
  else throw OptionError("unknown action: " + verb);
  if (w.size() - 1 < minArgs || w.size() - 1 > maxArgs)
    throw OptionError("wrong number of arguments for " + verb);
  for (size_t i = 1; i < w.size(); ++i) ParseNumber(w[i]);
}

namespace {

class Parser {
 public:
  explicit Parser(Options& o) : o_(o) {}

  void Parse(const std::vector<std::string>& args, int depth) {
    if (depth > 8) throw OptionError("--script nested too deeply");
    size_t i = 0;
    auto next = [&](const std::string& opt) -> const std::string& {
      if (i >= args.size()) throw OptionError(opt + " needs a value");
      return args[i++];
    };
    auto number = [&](const std::string& opt) { return ParseNumber(next(opt)); };
    // An action runs to the end of the words or to the next word starting with "--".
    auto action = [&](const std::string& opt) {
      Action a;
      while (i < args.size() && args[i].rfind("--", 0) != 0) a.words.push_back(args[i++]);
      if (a.words.empty()) throw OptionError(opt + " needs an action");
      CheckAction(a);
      return a;
    };
    while (i < args.size()) {
      const std::string opt = args[i++];
      if (opt == "--version") o_.version = static_cast<int32_t>(number(opt));
      else if (opt == "--log") o_.logPath = next(opt);
      else if (opt == "--title") o_.title = next(opt);
      else if (opt == "--refuse") o_.refuse = true;
      else if (opt == "--hang-connect") o_.hangConnectMs = static_cast<uint32_t>(number(opt));
      else if (opt == "--no-reply") o_.noReply.insert(static_cast<uint32_t>(number(opt)));
      else if (opt == "--reply-delay") {
        const auto m = static_cast<uint32_t>(number(opt));
        o_.replyDelay[m] = static_cast<uint32_t>(number(opt));
      } else if (opt == "--service-ids") {
        for (const std::string& part : SplitList(next(opt)))
          o_.serviceIds.push_back(static_cast<int32_t>(ParseNumber(part)));
      } else if (opt == "--unregister-code") {
        o_.unregisterCodes.push_back(static_cast<uint32_t>(number(opt)));
      } else if (opt == "--hold-info-block") o_.holdInfoBlock = true;
      else if (opt == "--hold-register-block") o_.holdRegisterBlock = true;
      else if (opt == "--probe-after") o_.probeAfterMs = static_cast<uint32_t>(number(opt));
      else if (opt == "--exit-on-goodbye") o_.exitOnGoodbye = true;
      else if (opt == "--start-plugin") o_.startPlugin = next(opt);
      else if (opt == "--plugin-args") o_.pluginArgs = next(opt);
      else if (opt == "--prog-dir") o_.progDir = next(opt), o_.setProgDir = true;
      else if (opt == "--exit-after") {
        o_.timed.push_back({Trigger::kStart, 0, static_cast<uint32_t>(number(opt)), {{"exit"}}});
      } else if (opt == "--at") {
        const auto ms = static_cast<uint32_t>(number(opt));
        o_.timed.push_back({Trigger::kStart, 0, ms, action(opt)});
      } else if (opt == "--after-connect") {
        const auto ms = static_cast<uint32_t>(number(opt));
        o_.timed.push_back({Trigger::kConnect, 0, ms, action(opt)});
      } else if (opt == "--after-register") {
        const auto n = static_cast<int>(number(opt));
        const auto ms = static_cast<uint32_t>(number(opt));
        o_.timed.push_back({Trigger::kRegister, n, ms, action(opt)});
      } else if (opt == "--script") {
        ParseScript(next(opt), depth);
      } else {
        throw OptionError("unknown option: " + opt);
      }
    }
  }

 private:
  static std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
      const size_t comma = text.find(',', start);
      parts.push_back(text.substr(start, comma - start));
      if (comma == std::string::npos) return parts;
      start = comma + 1;
    }
  }

  void ParseScript(const std::string& path, int depth) {
    std::ifstream in(path);
    if (!in) throw OptionError("cannot read script " + path);
    std::vector<std::string> words;
    std::string line;
    while (std::getline(in, line)) {
      const size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      for (std::string& w : SplitWords(line)) words.push_back(std::move(w));
    }
    Parse(words, depth + 1);
  }

  Options& o_;
};

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  Parser(o).Parse(args, 0);
  return o;
}

}  // namespace kshost
