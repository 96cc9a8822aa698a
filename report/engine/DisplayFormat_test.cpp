#include "report/engine/DisplayFormat.h"

#include <gtest/gtest.h>

namespace tarvo::report {
namespace {

TEST(DisplayFormat, NumbersAndDatesInTheLocalesForm) {
  FormatSettings de = FormatSettings::German();
  FormatSettings en = de;
  en.DecimalSeparator = '.';
  en.ShortDateFormat = "MM/dd/yyyy";
  en.DateSeparator = '/';
  en.CurrencySymbol = "$";
  const DateTime dt{2024, 2, 29, 10, 15, 0, 0};
  const struct {
    const FormatSettings* fs;
    Value v;
    const char* format;
    const char* expected;
  } cases[] = {
      {&de, Value(1234567.891), "number:2", "1.234.567,89"},
      {&en, Value(1234567.891), "number:2", "1,234,567.89"},
      {&de, Value(-0.001), "number:2", "0,00"},
      {&de, Value(-1234.5), "number:1", "-1.234,5"},
      {&de, Value(int64_t{42}), "number", "42,00"},
      {&de, Value("17,5"), "number:2", "17,50"},
      {&de, Value("kein"), "number:2", "kein"},
      {&de, Value(999.995), "integer", "1.000"},
      {&de, Value(1500.0), "currency:2", "1.500,00 \xE2\x82\xAC"},
      {&en, Value(1500.0), "currency:0", "1,500 $"},
      {&de, Value(dt), "date", "29.02.2024"},
      {&en, Value(dt), "date", "02/29/2024"},
      {&de, Value(dt), "time", "10:15:00"},
      {&de, Value(dt), "datetime", "29.02.2024 10:15:00"},
      {&de, Value(dt), "date:dd/mm/yy hh:nn", "29.02.24 10:15"},
      {&de, Value(dt), "", "29.02.2024 10:15:00"},
      {&de, Value(2.5), "", "2,5"},
      {&de, Value(), "number:2", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatValue(c.v, c.format, *c.fs), c.expected) << c.format;
  EXPECT_THROW(FormatValue(Value(1.0), "prozent", de), std::runtime_error);
  EXPECT_THROW(FormatValue(Value(1.0), "number:x", de), std::runtime_error);
}

}  // namespace
}  // namespace tarvo::report
