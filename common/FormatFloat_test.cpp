// Numbers as the locale writes them, without a database.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/IBTarvo.h"

namespace tarvo::db {
namespace {

TEST(FormatFloat, ShortestFormUpToTheGivenPrecision) {
  struct Case {
    double value;
    int precision;
    const char* text;
  };
  const Case cases[] = {
      {0.0, 15, "0"},
      {-0.0, 15, "0"},
      {1.5, 15, "1,5"},
      {-1234567.25, 15, "-1234567,25"},
      {0.1 + 0.2, 15, "0,3"},
      {1.0 / 3.0, 15, "0,333333333333333"},
      {2.0 / 3.0, 15, "0,666666666666667"},
      {999999999999999.0, 15, "999999999999999"},
      {9999999999999999.0, 15, "1E16"},
      {1e15, 15, "1E15"},
      {1.25e20, 15, "1,25E20"},
      {0.001, 15, "0,001"},
      {0.000123, 15, "0,000123"},
      {0.0000123, 15, "1,23E-5"},
      {-1e-300, 15, "-1E-300"},
      {123.456, 4, "123,5"},
      {12345.6, 4, "1,235E4"},
      {std::numeric_limits<double>::quiet_NaN(), 15, "NAN"},
      {std::numeric_limits<double>::infinity(), 15, "INF"},
      {-std::numeric_limits<double>::infinity(), 15, "-INF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatFloat(c.value, ',', c.precision), c.text);
  }
  EXPECT_EQ(FormatFloat(2.5, '.'), "2.5");
}

}  // namespace
}  // namespace tarvo::db
