// The date-text normaliser on fixed settings and a fixed "today".
#include <gtest/gtest.h>

#include <string>

#include "common/IBTarvo.h"

namespace tarvo::db {
namespace {

const DateTime kToday{2025, 6, 20, 9, 15, 0, 0};
const char kMessage[] = "Bitte geben Sie ein gültiges Datum ein, oder drücken Sie die [ESC]-Taste";

std::string Normalize(const std::string& text, const FormatSettings& fs = FormatSettings::German(),
                      const DateTime& today = kToday) {
  return NormalizeDateText(text, fs, today);
}

TEST(NormalizeDateText, ShortEntriesBecomeFullDates) {
  struct Case {
    const char* entry;
    const char* result;
  };
  const Case cases[] = {
      {"5", "05.06.2025"},            // day of the current month
      {"30", "30.06.2025"},
      {" 7", "07.06.2025"},           // a leading blank is allowed in a number
      {"45", "04.05.2025"},           // 32 and more: day digit, month digit
      {"99", "09.09.2025"},
      {"503", "05.03.2025"},          // d + mm
      {"1503", "15.03.2025"},         // dd + mm
      {"150325", "15.03.2025"},       // dd + mm + yy
      {"15032025", "15.03.2025"},     // dd + mm + yyyy
      {"150375", "15.03.1975"},       // two-digit year at the start of the window
      {"150374", "15.03.2074"},       // ... and just before it
      {"15-3", "15.03.2025"},         // any other character is a separator
      {"15/3", "15.03.2025"},
      {"15.3.", "15.03.2025"},        // a trailing separator is dropped
      {"1.1.0", "01.01.2000"},
      {"15.3.25 14.30", "15.03.2025 14:30:00"},
      {"15.3.25 14:30:10", "15.03.2025 14:30:10"},
      {"15.3.2025 9", "15.03.2025 09:00:00"},
      {"15.03.2025", "15.03.2025"},   // already normal: same form
      {"15.03.2025 00:00:00", "15.03.2025"},
      {"29.2.2024", "29.02.2024"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(Normalize(c.entry), c.result);
  }
}

TEST(NormalizeDateText, WordsAndEmptyTextComeBackUnchanged) {
  for (const char* text : {"", "Heute", "HEUTE", "monatsende", "MonatsAnfang", "heute+3",
                           "bis Monatsende bitte", "heute 99.99.99"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Normalize(text), text);
  }
}

TEST(NormalizeDateText, UnreadableEntriesRaiseTheGermanMessage) {
  for (const char* text :
       {"0", "31" /* June has 30 days */, "32.13", "abc", "2024-03-05", "40", "29.2.2025",
        "15.3.25 24:00", "15.3.25 14:60", "5:", "15-3.", "ä", "1234567890123"}) {
    SCOPED_TRACE(text);
    try {
      Normalize(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), kMessage);
    }
  }
}

TEST(NormalizeDateText, FollowsTheGivenSettings) {
  FormatSettings us = FormatSettings::German();
  us.ShortDateFormat = "MM/dd/yyyy";
  us.DateSeparator = '/';
  // Pieces are assembled day, month, year and read in the locale's order,
  // so under a month-first locale "1503" cannot be read ...
  EXPECT_THROW(Normalize("1503", us), EDatabaseError);
  // ... while "0315" reads as 15 March; dots are separators there too.
  EXPECT_EQ(Normalize("0315", us), "03/15/2025");
  EXPECT_EQ(Normalize("3.15.25", us), "03/15/2025");
  EXPECT_EQ(Normalize("5", us), "06/05/2025");

  FormatSettings narrowWindow = FormatSettings::German();
  narrowWindow.TwoDigitYearCenturyWindow = 10;
  EXPECT_EQ(Normalize("150314", narrowWindow), "15.03.2114");
  EXPECT_EQ(Normalize("150315", narrowWindow), "15.03.2015");

  // Today decides the month of a bare day and the year of a day and month.
  EXPECT_EQ(Normalize("31", FormatSettings::German(), DateTime{2024, 12, 1}), "31.12.2024");
  EXPECT_EQ(Normalize("29.2", FormatSettings::German(), DateTime{2024, 1, 1}), "29.02.2024");
  EXPECT_THROW(Normalize("29.2", FormatSettings::German(), DateTime{2025, 1, 1}), EDatabaseError);
}

}  // namespace
}  // namespace tarvo::db
