// Windows-1252 at the edges: the configuration file, log files, job files
// and the database connection speak it; inside the programs text is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tarvo {

// Characters Windows-1252 lacks (and invalid UTF-8 bytes) become '?'.
std::string Utf8ToCp1252(std::string_view utf8);
// Every byte has a meaning; the five unassigned ones map to U+0081 etc.
std::string Cp1252ToUtf8(std::string_view cp1252);
bool IsValidUtf8(std::string_view text);
// Appends the UTF-8 encoding of one code point (at most U+10FFFF) to `out`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace tarvo
