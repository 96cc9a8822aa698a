// The small shared helpers: code page conversion, date-time formatting and
// the locale values.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/Codepage.h"
#include "common/DateTime.h"
#include "common/FormatSettings.h"

namespace tarvo {
namespace {

TEST(Codepage, Windows1252RoundTripOfEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
}

TEST(Codepage, Conversions) {
  const std::pair<std::string, std::string> toUtf8[] = {
      {"\x80", "\xE2\x82\xAC"},             // €
      {"\x8A\x9A\x9F", "\xC5\xA0\xC5\xA1\xC5\xB8"},  // Š š Ÿ
      {"\xE4\xF6\xFC\xDF", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"},
      {"\x81", "\xC2\x81"},                 // unassigned byte keeps its value
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& [cp, utf8] : toUtf8) {
    EXPECT_EQ(Cp1252ToUtf8(cp), utf8);
    EXPECT_EQ(Utf8ToCp1252(utf8), cp);
  }
  const std::pair<std::string, std::string> lossy[] = {
      {"\xE2\x9C\x93", "?"},              // ✓ is not in the code page
      {"\xF0\x9F\x98\x80", "?"},          // emoji: one character, one '?'
      {"\xC2\x80", "?"},                  // U+0080 has no byte
      {"\xC3", "?"},                      // truncated sequence
      {"\xC0\xAF", "??"},                 // overlong
      {"\xED\xA0\x80", "???"},            // surrogate
      {"\xFF" "a", "?a"},
  };
  for (const auto& [utf8, cp] : lossy) EXPECT_EQ(Utf8ToCp1252(utf8), cp);
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
}

TEST(DateTime, FormatPatterns) {
  const DateTime v{2024, 3, 5, 14, 7, 9, 23};
  const std::pair<const char*, const char*> cases[] = {
      {"YYYY-MM-DD hh:nn:ss,zzz", "2024-03-05 14:07:09,023"},
      {"dd.mm.yyyy", "05.03.2024"},
      {"d.m.yy", "5.3.24"},
      {"hh:mm:ss", "14:07:09"},  // mm right after an hour is the minute
      {"h:m", "14:7"},
      {"dd/mm/yyyy", "05-03-2024"},
      {"'Uhr' hh \"h\"", "Uhr 14 h"},
      {"mmmm", "03"},
      {"z", "23"},
  };
  for (const auto& [pattern, text] : cases) EXPECT_EQ(FormatDateTime(pattern, v, '-', ':'), text) << pattern;
  EXPECT_EQ(FormatDateTime("hh:nn", v, '.', '.'), "14.07");
}

TEST(DateTime, CalendarChecks) {
  EXPECT_TRUE(DateTime::IsLeapYear(2000));
  EXPECT_FALSE(DateTime::IsLeapYear(1900));
  EXPECT_TRUE(DateTime::IsLeapYear(2024));
  EXPECT_EQ(DateTime::DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DateTime::DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DateTime::DaysInMonth(2024, 13), 0);
  EXPECT_TRUE((DateTime{2024, 2, 29}).HasValidDate());
  EXPECT_FALSE((DateTime{2023, 2, 29}).HasValidDate());
  EXPECT_FALSE((DateTime{0, 1, 1}).HasValidDate());
  EXPECT_FALSE((DateTime{2024, 0, 1}).HasValidDate());
  EXPECT_TRUE((DateTime{1, 1, 1, 23, 59, 59, 999}).HasValidTime());
  EXPECT_FALSE((DateTime{1, 1, 1, 24, 0, 0, 0}).HasValidTime());
  const DateTime now = DateTime::Now();
  EXPECT_TRUE(now.HasValidDate());
  EXPECT_TRUE(now.HasValidTime());
}

TEST(FormatSettings, GermanDefaultsAndFormatting) {
  const FormatSettings de = FormatSettings::German();
  EXPECT_EQ(de.FormatDefault(DateTime{2024, 3, 5}), "05.03.2024");
  EXPECT_EQ(de.FormatDefault(DateTime{2024, 3, 5, 0, 0, 1}), "05.03.2024 00:00:01");
  EXPECT_EQ(de.FormatShortDate(DateTime{2024, 12, 31, 8}), "31.12.2024");
  EXPECT_EQ(de.FormatLongTime(DateTime{2024, 12, 31, 8, 5, 3}), "08:05:03");
  EXPECT_EQ(de.DecimalSeparator, ',');
  EXPECT_EQ(de.CurrencySymbol, "\xE2\x82\xAC");
}

TEST(FormatSettings, TwoDigitYearWindow) {
  const FormatSettings fs = FormatSettings::German();
  const std::tuple<int, int, int> cases[] = {
      {26, 2026, 2026}, {75, 2026, 2075}, {76, 2026, 1976}, {0, 2026, 2000},
      {99, 2026, 1999}, {50, 2000, 1950}, {49, 2000, 2049},
  };
  for (const auto& [yy, current, year] : cases)
    EXPECT_EQ(fs.ExpandTwoDigitYear(yy, current), year) << yy << " in " << current;
}

TEST(FormatSettings, PosixLocalesGiveTheGermanValues) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    setenv("LC_ALL", name, 1);
    const FormatSettings fs = FormatSettings::FromSystemLocale();
    EXPECT_EQ(fs.ShortDateFormat, "dd.MM.yyyy") << name;
    EXPECT_EQ(fs.LongTimeFormat, "hh:mm:ss") << name;
    EXPECT_EQ(fs.DecimalSeparator, ',') << name;
    EXPECT_EQ(fs.CurrencySymbol, "\xE2\x82\xAC") << name;
  }
  old ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
}

TEST(FormatSettings, SystemValueCanBeReplaced) {
  FormatSettings custom;
  custom.DateSeparator = '/';
  custom.ShortDateFormat = "MM/dd/yyyy";
  SetSystemFormatSettings(custom);
  EXPECT_EQ(SystemFormatSettings().FormatShortDate(DateTime{2024, 3, 5}), "03/05/2024");
  SetSystemFormatSettings(FormatSettings::German());
  EXPECT_EQ(SystemFormatSettings().FormatShortDate(DateTime{2024, 3, 5}), "05.03.2024");
}

TEST(DateTime, DaysFromCivilCountsFrom1970) {
  struct Case {
    int year, month, day;
    int64_t days;
  };
  const Case cases[] = {{1970, 1, 1, 0},         {1899, 12, 30, -25569}, {2000, 2, 29, 11016},
                        {2000, 3, 1, 11017},     {2024, 12, 31, 20088},  {1, 1, 1, -719162},
                        {9999, 12, 31, 2932896}};
  for (const auto& c : cases)
    EXPECT_EQ(DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)), c.days)
        << c.year << "-" << c.month << "-" << c.day;
}

}  // namespace
}  // namespace tarvo
