#include "core/set_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "core/comma_list.h"
#include "core/errors.h"

namespace vk {
namespace {

constexpr int kPrecision = 15;
// The largest double as FloatToText writes it, 1.79769313486232E308, as the digits
// and the exponent of 0.179769313486232E309.
constexpr char kLargestWrittenDigits[] = "179769313486232";
constexpr int64_t kLargestWrittenExponent = 309;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* BoolText(bool b) { return b ? "1" : "0"; }

[[noreturn]] void InvalidInteger(const std::string& text) {
  throw EConvertError("'" + text + "' ist kein gültiger Integerwert");
}

[[noreturn]] void InvalidFloat(const std::string& text) {
  throw EConvertError("'" + text + "' ist kein gültiger Fließkommawert");
}

// A file name holds no double quotes: every enclosing pair goes, so that a name
// saved once is saved again unchanged.
std::string WithoutQuotes(std::string name) {
  while (!name.empty() && name[0] == '"') {
    std::string inner = Unquote(name);
    if (inner == name) break;
    name = std::move(inner);
  }
  return name;
}

// Whether `plain` (an optional '-', digits with an optional '.', an optional exponent
// 'e') is at least 1E308 and at most the largest double as written, decided on its
// digits: mingw-w64's from_chars for long double refuses such numbers as out of range.
bool IsLargestWritten(const std::string& plain) {
  std::string digits;    // the significant digits: the value is 0.digits × 10^exponent
  int64_t exponent = 0;
  bool fraction = false;
  size_t p = !plain.empty() && plain[0] == '-' ? 1 : 0;
  for (; p < plain.size() && plain[p] != 'e'; ++p) {
    if (plain[p] == '.') {
      fraction = true;
    } else if (!digits.empty() || plain[p] != '0') {
      digits += plain[p];
      if (!fraction) ++exponent;
    } else if (fraction) {
      --exponent;  // a leading zero after the point
    }
  }
  if (p < plain.size()) {
    const bool negative = plain[++p] == '-';
    if (plain[p] == '-' || plain[p] == '+') ++p;
    int64_t e = 0;  // held below any overflow: beyond a million it no longer matters
    for (; p < plain.size(); ++p) e = std::min<int64_t>(e * 10 + (plain[p] - '0'), 1000000);
    exponent += negative ? -e : e;
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  return exponent == kLargestWrittenExponent && digits <= kLargestWrittenDigits;
}

// A Boolean is stored as an integer; only its low eight bits count.
bool TextToBool(const std::string& text) { return (TextToInt(text) & 0xFF) != 0; }

}  // namespace

std::string DefaultZipName(const std::string& hostDir) { return hostDir + kDefaultZipSuffix; }

std::string FloatToText(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";

  // d.dddddddddddddde±x: the value rounded to 15 significant digits.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                 std::chars_format::scientific, kPrecision - 1);
  const std::string sci(buf, res.ptr);
  const size_t e = sci.find('e');
  std::string digits = sci.substr(0, 1) + sci.substr(2, e - 2);
  const int exponent = std::atoi(sci.c_str() + e + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = value < 0 ? "-" : "";
  if (exponent < -5 || exponent >= kPrecision) {
    out += digits[0];
    if (digits.size() > 1) out += decimalSeparator + digits.substr(1);
    out += 'E';
    if (exponent < 0) out += '-';
    out += std::to_string(std::abs(exponent));
    return out;
  }
  const int intDigits = exponent + 1;
  if (intDigits <= 0) {
    out += '0';
    out += decimalSeparator;
    out.append(static_cast<size_t>(-intDigits), '0');
    out += digits;
  } else if (static_cast<size_t>(intDigits) >= digits.size()) {
    out += digits;
    out.append(static_cast<size_t>(intDigits) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(intDigits));
    out += decimalSeparator;
    out += digits.substr(static_cast<size_t>(intDigits));
  }
  return out;
}

int32_t TextToInt(const std::string& text) {
  size_t p = 0;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p == text.size()) InvalidInteger(text);
  int64_t value = 0;
  for (; p < text.size(); ++p) {
    if (!IsDigit(text[p])) InvalidInteger(text);
    value = value * 10 + (text[p] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) InvalidInteger(text);
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) InvalidInteger(text);
  return static_cast<int32_t>(value);
}

double TextToFloat(const std::string& text, char decimalSeparator) {
  // Checked here rather than by the C library, whose idea of the decimal point and
  // of blanks, "inf" and hexadecimal forms is not the task file's.
  std::string plain;  // the same number with '.' for from_chars, which takes no '+'
  size_t p = 0;
  const size_t n = text.size();
  if (p < n && (text[p] == '+' || text[p] == '-')) {
    if (text[p] == '-') plain += '-';
    ++p;
  }
  size_t mantissaDigits = 0;
  for (; p < n && IsDigit(text[p]); ++p, ++mantissaDigits) plain += text[p];
  // Either mark: a task file written under the other regional setting still loads.
  if (p < n && (text[p] == decimalSeparator || text[p] == '.' || text[p] == ',')) {
    plain += '.';
    for (++p; p < n && IsDigit(text[p]); ++p, ++mantissaDigits) plain += text[p];
  }
  if (mantissaDigits == 0) InvalidFloat(text);
  if (p < n && (text[p] == 'e' || text[p] == 'E')) {
    plain += 'e';
    ++p;
    if (p < n && (text[p] == '+' || text[p] == '-')) plain += text[p++];
    size_t expDigits = 0;
    for (; p < n && IsDigit(text[p]); ++p, ++expDigits) plain += text[p];
    if (expDigits == 0) InvalidFloat(text);
  }
  if (p != n) InvalidFloat(text);

  double value = 0;
  const char* const end = plain.data() + plain.size();
  const auto res = std::from_chars(plain.data(), end, value);
  // The largest doubles, rounded to 15 digits, are written just above the largest
  // double; what the writer writes must read back.
  if (res.ec == std::errc::result_out_of_range && IsLargestWritten(plain))
    return plain[0] == '-' ? -std::numeric_limits<double>::max()
                           : std::numeric_limits<double>::max();
  if (res.ec != std::errc() || res.ptr != end || !std::isfinite(value)) InvalidFloat(text);
  return value;
}

std::string SaveSetText(SetFields& f, char decimalSeparator) {
  StringList list;
  list.push_back("Name=" + f.Name);
  list.push_back(std::string("Active=") + BoolText(f.Active));
  list.push_back("InclDirs=" + f.InclDirs);
  list.push_back(std::string("UseDefZipName=") + BoolText(f.UseDefZipName));
  f.DefZipName = WithoutQuotes(f.DefZipName);
  list.push_back("DefZipName=" + f.DefZipName);
  list.push_back("AutoMode=" + std::to_string(f.AutoMode));
  list.push_back("AutoDays=" + std::to_string(f.AutoDays));
  list.push_back("LastBackup=" + FloatToText(f.LastBackup, decimalSeparator));
  list.push_back(std::string("SaveRegistry=") + BoolText(f.SaveRegistry));
  list.push_back(std::string("SaveFiles=") + BoolText(f.SaveFiles));
  // Only when used, so that the files of tasks that keep one backup stay as they were.
  if (f.Generations != 1) list.push_back("Generations=" + std::to_string(f.Generations));
  return WriteCommaList(list);
}

SetFields LoadSetText(const std::string& text, char decimalSeparator,
                      const std::function<std::string()>& defaultZipName) {
  const StringList list = ReadCommaList(text);
  SetFields f;
  std::string v;
  // The keys in the order of the file, so the first bad value is the one reported.
  f.Name = ValueOfKey(list, "Name");
  if (!(v = ValueOfKey(list, "Active")).empty()) f.Active = TextToBool(v);
  if (!(v = ValueOfKey(list, "InclDirs")).empty()) f.InclDirs = v;
  if (!(v = ValueOfKey(list, "UseDefZipName")).empty()) f.UseDefZipName = TextToBool(v);
  v = ValueOfKey(list, "DefZipName");
  // Saving drops enclosing quotes; a name that is nothing but quotes is empty.
  if (WithoutQuotes(v).empty()) v.clear();
  f.DefZipName = !v.empty() ? v : defaultZipName ? defaultZipName() : DefaultZipName("");
  if (!(v = ValueOfKey(list, "AutoMode")).empty()) f.AutoMode = TextToInt(v);
  if (!(v = ValueOfKey(list, "AutoDays")).empty()) f.AutoDays = TextToInt(v);
  if (!(v = ValueOfKey(list, "LastBackup")).empty()) f.LastBackup = TextToFloat(v, decimalSeparator);
  if (!(v = ValueOfKey(list, "SaveRegistry")).empty()) f.SaveRegistry = TextToBool(v);
  if (!(v = ValueOfKey(list, "SaveFiles")).empty()) f.SaveFiles = TextToBool(v);
  if (!(v = ValueOfKey(list, "Generations")).empty()) f.Generations = TextToInt(v);
  return f;
}

}  // namespace vk
