#include "report/engine/DisplayFormat.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "common/TextUtil.h"

namespace tarvo::report {

namespace {

bool NumberOf(const Value& v, double& out) {
  if (v.IsNumber()) {
    out = v.ToNumber();
    return true;
  }
  if (v.IsText()) {
    std::string t = v.Text();
    for (auto& c : t)
      if (c == ',') c = '.';
    if (t.empty()) return false;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == 0;
  }
  return false;
}

std::string Fixed(double d, int decimals, const FormatSettings& fs) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, d);
  std::string s = buf;
  if (s == "-0" || s.rfind("-0.", 0) == 0) {
    bool zero = true;
    for (char c : s)
      if (c >= '1' && c <= '9') zero = false;
    if (zero) s.erase(0, 1);
  }
  const size_t dot = s.find('.');
  std::string intPart = s.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : s.substr(dot + 1);
  std::string sign;
  if (!intPart.empty() && intPart[0] == '-') {
    sign = "-";
    intPart.erase(0, 1);
  }
  std::string grouped;
  const char sep = ThousandSeparator(fs);
  for (size_t i = 0; i < intPart.size(); ++i) {
    if (i > 0 && (intPart.size() - i) % 3 == 0) grouped += sep;
    grouped += intPart[i];
  }
  return sign + grouped + (frac.empty() ? "" : std::string(1, fs.DecimalSeparator) + frac);
}

int Decimals(const std::string& arg, int def) {
  if (arg.empty()) return def;
  char* end = nullptr;
  long n = std::strtol(arg.c_str(), &end, 10);
  if (*end != 0 || n < 0 || n > 15) throw std::runtime_error("Ungültige Nachkommastellen \"" + arg + "\"");
  return static_cast<int>(n);
}

}  // namespace

char ThousandSeparator(const FormatSettings& fs) { return fs.DecimalSeparator == ',' ? '.' : ','; }

std::string FormatValue(const Value& v, const std::string& format, const FormatSettings& fs) {
  if (format.empty() || v.IsNull()) return v.ToText(fs);
  const size_t colon = format.find(':');
  const std::string kind = AsciiLower(format.substr(0, colon));
  const std::string arg = colon == std::string::npos ? "" : format.substr(colon + 1);
  double d = 0;
  if (kind == "number" || kind == "currency" || kind == "integer") {
    const int decimals = kind == "integer" ? 0 : Decimals(arg, 2);
    if (!NumberOf(v, d)) return v.ToText(fs);
    std::string s = Fixed(d, decimals, fs);
    if (kind == "currency") s += " " + fs.CurrencySymbol;
    return s;
  }
  if (kind == "date" || kind == "time" || kind == "datetime") {
    if (!v.IsDateTime()) return v.ToText(fs);
    const DateTime& dt = v.AsDateTimeValue();
    if (!arg.empty()) return FormatDateTime(arg, dt, fs.DateSeparator, fs.TimeSeparator);
    if (kind == "date") return fs.FormatShortDate(dt);
    if (kind == "time") return fs.FormatLongTime(dt);
    return fs.FormatDefault(dt);
  }
  throw std::runtime_error("Unbekanntes Anzeigeformat \"" + format + "\"");
}

}  // namespace tarvo::report
