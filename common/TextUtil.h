// Small text helpers shared by the programs: trimming, ASCII case, lines
// and decimal integers as the configuration, the database layer and the
// report functions read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// Without the blanks and control characters (bytes up to ' ') at both ends.
std::string Trim(std::string_view s);

// ASCII letters upper-cased; every other byte (UTF-8 included) stays.
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);

// Lines split at CR LF, LF or CR; a break at the very end opens no
// further line.
std::vector<std::string> SplitLines(std::string_view text);

// A decimal integer with an optional leading '+' or '-', nothing else (no
// blanks, no second sign); false and `out` untouched when it is not one or
// does not fit.
bool TryParseInt(std::string_view s, int32_t& out);
bool TryParseInt(std::string_view s, int64_t& out);

}  // namespace tarvo
