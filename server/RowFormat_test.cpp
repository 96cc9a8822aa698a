#include "server/RowFormat.h"

#include <gtest/gtest.h>

namespace tarvo::server {
namespace {

TEST(RowFormatTest, FloatsHaveTwoDecimalsAtFifteenDigits) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {1234.5, "1234.50"},
      {0, "0.00"},
      {-0.0, "0.00"},
      {-1234.5, "-1234.50"},
      {0.125, "0.13"},
      {0.005, "0.01"},
      {-0.004, "0.00"},
      {9.995, "10.00"},
      {99.999, "100.00"},
      {1e-20, "0.00"},
      {1234567.891, "1234567.89"},
      {1234567890123.456, "1234567890123.46"},
      {12345678901234.56, "12345678901234.60"},
      {123456789012345.0, "123456789012345.00"},
      {1e20, "1.00000000000000E+20"},
      {-1.5e16, "-1.50000000000000E+16"},
      // Rounding at 15 significant digits hides binary noise.
      {0.1 + 0.2, "0.30"},
      {1.005, "1.01"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFloatEnUS(c.value), c.text) << c.value;
}

TEST(RowFormatTest, IsoDateTimes) {
  EXPECT_EQ(FormatIsoDateTime({2024, 3, 5, 14, 7, 9, 500}), "2024-03-05T14:07:09");
  EXPECT_EQ(FormatIsoDateTime({12, 1, 2, 3, 4, 5, 0}), "0012-01-02T03:04:05");
  EXPECT_TRUE(IsZeroDateTime({1899, 12, 30, 0, 0, 0, 0}));
  EXPECT_TRUE(IsZeroDateTime({}));
  EXPECT_FALSE(IsZeroDateTime({1899, 12, 30, 0, 0, 0, 1}));
  EXPECT_FALSE(IsZeroDateTime({1899, 12, 30, 12, 0, 0, 0}));

  EXPECT_EQ(ParseISODate("2024-03-05T14:07:09"), (DateTime{2024, 3, 5, 14, 7, 9, 0}));
  EXPECT_EQ(ParseISODate("2024-02-29T23:59:59"), (DateTime{2024, 2, 29, 23, 59, 59, 0}));
  const char* noShape[] = {"2024-03-05 14:07:09", "2024-03-05", "2024-03-05T14:07:09Z", "", "2024/03/05T14:07:09"};
  for (const char* t : noShape) {
    try {
      ParseISODate(t);
      ADD_FAILURE() << t;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "Invalid ISO Date") << t;
    }
  }
  const char* notADate[] = {"2024-13-05T14:07:09", "2023-02-29T00:00:00", "2024-03-05T24:00:00", "20x4-03-05T14:07:09"};
  for (const char* t : notADate) {
    try {
      ParseISODate(t);
      ADD_FAILURE() << t;
    } catch (const std::invalid_argument& e) {
      EXPECT_STRNE(e.what(), "Invalid ISO Date") << t;
    }
  }
}

TEST(RowFormatTest, ColumnNamesLowerCase) {
  EXPECT_EQ(LowerColumnName("RTF__HINWEIS"), "rtf__hinweis");
  EXPECT_EQ(LowerColumnName("STRA\xC3\x9F" "E_\xC3\x84\xC3\x96\xC3\x9C"), "stra\xC3\x9F" "e_\xC3\xA4\xC3\xB6\xC3\xBC");
  EXPECT_EQ(LowerColumnName("A\xC3\x97" "B"), "a\xC3\x97" "b");
}

}  // namespace
}  // namespace tarvo::server
