// Calendar date and time of day without a time zone, as the database and
// the protocol exchange them. A plain value; no validation on construction.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

struct DateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  // The current local time of the machine.
  static DateTime Now();

  static bool IsLeapYear(int year);
  // 0 for a month outside 1..12.
  static int DaysInMonth(int year, int month);
  // Date part exists in the proleptic Gregorian calendar (year 1..9999).
  bool HasValidDate() const;
  bool HasValidTime() const;
  bool IsMidnight() const { return hour == 0 && minute == 0 && second == 0 && millisecond == 0; }

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

// Formats like the Delphi run-time library's FormatDateTime: pattern letters
// are case-insensitive; y/yy/yyyy year, m/mm month (minutes right after an
// hour element), mmm/mmmm are taken as mm, d/dd day, h/hh hour, n/nn minute,
// s/ss second, z/zzz millisecond; "/" writes the date separator and ":" the
// time separator given here; text in '...' or "..." is copied as it stands;
// every other character is copied.
std::string FormatDateTime(const std::string& pattern, const DateTime& value,
                           char dateSeparator = '.', char timeSeparator = ':');

}  // namespace tarvo
