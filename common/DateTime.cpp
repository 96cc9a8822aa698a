#include "common/DateTime.h"

#include <cctype>
#include <chrono>
#include <ctime>

namespace tarvo {

DateTime DateTime::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms)};
}

bool DateTime::IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int DateTime::DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool DateTime::HasValidDate() const {
  return year >= 1 && year <= 9999 && day >= 1 && day <= DaysInMonth(year, month);
}

bool DateTime::HasValidTime() const {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

namespace {

void AppendNumber(std::string& out, int value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out.push_back('-');
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out.push_back('0');
  out += digits;
}

}  // namespace

std::string FormatDateTime(const std::string& pattern, const DateTime& v, char dateSep,
                           char timeSep) {
  std::string out;
  out.reserve(pattern.size() + 8);
  bool afterHour = false;
  const size_t n = pattern.size();
  size_t i = 0;
  while (i < n) {
    const char c = pattern[i];
    const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t run = 1;
    while (i + run < n && std::tolower(static_cast<unsigned char>(pattern[i + run])) == lc) ++run;
    switch (lc) {
      case 'y':
        if (run <= 2)
          AppendNumber(out, v.year % 100, 2);
        else
          AppendNumber(out, v.year, 4);
        afterHour = false;
        break;
      case 'm':
        if (afterHour && run <= 2)
          AppendNumber(out, v.minute, static_cast<int>(run));
        else
          AppendNumber(out, v.month, run == 1 ? 1 : 2);
        afterHour = false;
        break;
      case 'd':
        AppendNumber(out, v.day, run == 1 ? 1 : 2);
        afterHour = false;
        break;
      case 'h':
        AppendNumber(out, v.hour, run == 1 ? 1 : 2);
        afterHour = true;
        break;
      case 'n':
        AppendNumber(out, v.minute, run == 1 ? 1 : 2);
        afterHour = false;
        break;
      case 's':
        AppendNumber(out, v.second, run == 1 ? 1 : 2);
        afterHour = false;
        break;
      case 'z':
        AppendNumber(out, v.millisecond, run >= 3 ? 3 : 1);
        afterHour = false;
        break;
      case '\'':
      case '"': {
        size_t end = pattern.find(c, i + 1);
        if (end == std::string::npos) end = n;
        out.append(pattern, i + 1, end - i - 1);
        i = end < n ? end + 1 : n;
        continue;
      }
      case '/':
        out.append(run, dateSep);
        break;
      case ':':
        out.append(run, timeSep);
        break;
      default:
        out.append(pattern, i, run);
        break;
    }
    i += run;
  }
  return out;
}

}  // namespace tarvo
