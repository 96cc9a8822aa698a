// Text helpers the server's files share: hex digits, ASCII case-blind
// comparison and text as CR LF lines.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::server {

// The value of a hex digit (either case), -1 for any other byte.
inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// True when both are equal with ASCII letters compared case-blind.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// The text as lines (broken at CR LF, LF or CR), each followed by CR LF.
inline std::string LinesWithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find_first_of("\r\n", i);
    if (e == std::string::npos) e = text.size();
    out.append(text, i, e - i);
    out.append("\r\n");
    if (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
    i = e + 1;
  }
  return out;
}

}  // namespace tarvo::server
