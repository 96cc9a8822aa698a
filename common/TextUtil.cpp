#include "common/TextUtil.h"

#include <charconv>

namespace tarvo {

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

template <typename T>
bool ParseDecimal(std::string_view s, T& out) {
  const char* first = s.data();
  const char* last = first + s.size();
  if (first == last) return false;
  // from_chars takes no '+'; after one, a digit must follow (not a '-').
  if (*first == '+') {
    ++first;
    if (first == last || *first < '0' || *first > '9') return false;
  }
  T v = 0;
  const auto r = std::from_chars(first, last, v);
  if (r.ec != std::errc() || r.ptr != last) return false;
  out = v;
  return true;
}

}  // namespace

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool TryParseInt(std::string_view s, int32_t& out) { return ParseDecimal(s, out); }
bool TryParseInt(std::string_view s, int64_t& out) { return ParseDecimal(s, out); }

}  // namespace tarvo
