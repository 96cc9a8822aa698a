// Display formats of text objects, in the locale's form.
//
//   number:N    fixed N decimals, thousands grouped (N defaults to 2)
//   currency:N  as number, then a blank and the currency symbol
//   integer     rounded, thousands grouped
//   date        short date;  time  long time;  datetime  the default form
//   date:PAT    FormatDateTime pattern, e.g. date:dd.mm.yyyy hh:nn
// An empty format writes the value as the system does (Value::ToText). A
// value that does not fit the format (text that is no number, a number
// under a date format) is written as text.
#pragma once

#include <string>

#include "common/FormatSettings.h"
#include "report/engine/Value.h"

namespace tarvo::report {

// Raises std::runtime_error for a format it does not know.
std::string FormatValue(const Value& v, const std::string& format, const FormatSettings& fs);

// The thousands separator that goes with the locale's decimal separator.
char ThousandSeparator(const FormatSettings& fs);

}  // namespace tarvo::report
