// What the Windows locale would give the programs: date and time patterns,
// separators, decimal separator, currency and the two-digit-year window.
// One value is read from the OS locale at start-up; tests build their own.
#pragma once

#include <string>

#include "common/DateTime.h"

namespace tarvo {

struct FormatSettings {
  std::string ShortDateFormat = "dd.MM.yyyy";  // patterns as FormatDateTime reads them
  std::string LongTimeFormat = "hh:mm:ss";
  std::string ShortTimeFormat = "hh:mm";
  char DateSeparator = '.';
  char TimeSeparator = ':';
  char DecimalSeparator = ',';
  std::string CurrencySymbol = "\xE2\x82\xAC";  // UTF-8 euro sign
  int TwoDigitYearCenturyWindow = 50;

  // The German values: what applies under the C/POSIX locale.
  static FormatSettings German();
  // Read from LC_TIME / LC_NUMERIC / LC_MONETARY of the environment; the C
  // and POSIX locales (and any failure) give German().
  static FormatSettings FromSystemLocale();

  // Short date, and a blank plus the long time unless the time is exactly
  // midnight: how the system writes a date-time value as text.
  std::string FormatDefault(const DateTime& value) const;
  std::string FormatShortDate(const DateTime& value) const;
  std::string FormatLongTime(const DateTime& value) const;

  // The year of a two-digit entry: in the hundred years beginning
  // TwoDigitYearCenturyWindow years before currentYear.
  int ExpandTwoDigitYear(int twoDigitYear, int currentYear) const;
};

// The process-wide value. Set once at start-up (before threads are started);
// read-only afterwards.
const FormatSettings& SystemFormatSettings();
void SetSystemFormatSettings(const FormatSettings& settings);

}  // namespace tarvo
