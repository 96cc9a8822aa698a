// The text forms of result values in the JSON rows and the reading of ISO
// date-time parameters. Pure functions; any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "common/DateTime.h"

namespace tarvo::server {

// Fixed-point with exactly two decimals, "." as decimal separator, no
// thousands separators, rounded at 15 significant digits; a value with
// more than 15 integer digits in exponent form ("1.00000000000000E+20").
std::string FormatFloatEnUS(double value);

// True for the zero date-time (30 December 1899 00:00:00.000) and for the
// unset value the database layer gives for NULL.
bool IsZeroDateTime(const DateTime& value);
// "YYYY-MM-DDThh:mm:ss" of the wall-clock value; fractions dropped.
std::string FormatIsoDateTime(const DateTime& value);

// Exactly 19 characters with '-' at positions 5 and 8, 'T' at 11 and ':'
// at 14 and 17 (from 1).
bool HasIsoDateShape(std::string_view text);
// The date-time of an ISO text without zone. Raises std::invalid_argument
// "Invalid ISO Date" without the shape, and a conversion error
// ("'<text>' is not a valid date and time") when the fields are no date.
DateTime ParseISODate(std::string_view text);

// A column name lower-cased: ASCII and the Latin-1 letters (umlauts etc.).
std::string LowerColumnName(std::string_view name);

}  // namespace tarvo::server
