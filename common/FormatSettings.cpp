#include "common/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <mutex>

namespace tarvo {

FormatSettings FormatSettings::German() { return FormatSettings{}; }

namespace {

// Turns a strftime date or time format (%d.%m.%Y, %H:%M:%S) into our
// pattern; false when it holds anything we do not translate.
bool TranslateStrftime(const std::string& fmt, std::string& pattern, char& separator) {
  pattern.clear();
  separator = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') {
      if (separator == 0) separator = fmt[i];
      pattern.push_back(fmt[i]);
      continue;
    }
    if (++i >= fmt.size()) return false;
    switch (fmt[i]) {
      case 'd': case 'e': pattern += "dd"; break;
      case 'm': pattern += "MM"; break;
      case 'Y': pattern += "yyyy"; break;
      case 'y': pattern += "yy"; break;
      case 'H': case 'k': pattern += "hh"; break;
      case 'M': pattern += "mm"; break;
      case 'S': pattern += "ss"; break;
      case 'T': pattern += "hh:mm:ss"; if (!separator) separator = ':'; break;
      case 'D': pattern += "MM/dd/yy"; if (!separator) separator = '/'; break;
      case 'F': pattern += "yyyy-MM-dd"; if (!separator) separator = '-'; break;
      default: return false;
    }
  }
  return !pattern.empty();
}

bool IsPosixLocale(const char* name) {
  if (!name) return true;
  const std::string n = name;
  return n.empty() || n == "C" || n == "POSIX" || n.rfind("C.", 0) == 0;
}

}  // namespace

FormatSettings FormatSettings::FromSystemLocale() {
  FormatSettings fs = German();
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return fs;
  const char* timeName = nullptr;
#ifdef _NL_LOCALE_NAME
  timeName = nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), loc);
#endif
  if (IsPosixLocale(timeName)) {
    freelocale(loc);
    return fs;
  }
  std::string pattern;
  char sep;
  if (TranslateStrftime(nl_langinfo_l(D_FMT, loc), pattern, sep)) {
    fs.ShortDateFormat = pattern;
    if (sep) fs.DateSeparator = sep;
  }
  if (TranslateStrftime(nl_langinfo_l(T_FMT, loc), pattern, sep)) {
    fs.LongTimeFormat = pattern;
    if (sep) fs.TimeSeparator = sep;
    const auto last = pattern.rfind(sep);
    fs.ShortTimeFormat = last == std::string::npos ? pattern : pattern.substr(0, last);
  }
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  if (radix && radix[0] && !radix[1]) fs.DecimalSeparator = radix[0];
  const char* currency = nl_langinfo_l(CRNCYSTR, loc);
  if (currency && currency[0] && currency[1]) fs.CurrencySymbol = currency + 1;  // skip the position sign
  freelocale(loc);
  return fs;
}

std::string FormatSettings::FormatShortDate(const DateTime& v) const {
  return FormatDateTime(ShortDateFormat, v, DateSeparator, TimeSeparator);
}

std::string FormatSettings::FormatLongTime(const DateTime& v) const {
  return FormatDateTime(LongTimeFormat, v, DateSeparator, TimeSeparator);
}

std::string FormatSettings::FormatDefault(const DateTime& v) const {
  std::string text = FormatShortDate(v);
  if (!v.IsMidnight()) {
    text.push_back(' ');
    text += FormatLongTime(v);
  }
  return text;
}

int FormatSettings::ExpandTwoDigitYear(int twoDigitYear, int currentYear) const {
  const int start = currentYear - TwoDigitYearCenturyWindow;
  int year = (start / 100) * 100 + twoDigitYear;
  if (year < start) year += 100;
  return year;
}

namespace {
// Replaced values are kept alive: callers may still hold references to them.
std::mutex gSystemMutex;
std::atomic<const FormatSettings*> gSystem{nullptr};
}  // namespace

const FormatSettings& SystemFormatSettings() {
  if (const FormatSettings* current = gSystem.load(std::memory_order_acquire)) return *current;
  std::lock_guard lock(gSystemMutex);
  if (!gSystem.load()) gSystem.store(new FormatSettings(FormatSettings::FromSystemLocale()));
  return *gSystem.load();
}

void SetSystemFormatSettings(const FormatSettings& settings) {
  std::lock_guard lock(gSystemMutex);
  gSystem.store(new FormatSettings(settings), std::memory_order_release);
}

}  // namespace tarvo
