#include "server/RowFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarvo::server {

std::string FormatFloatEnUS(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  // 15 significant digits, decimal: d.dddddddddddddde±X
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific, 14);
  *res.ptr = '\0';
  const bool negative = buf[0] == '-';
  const char* m = buf + (negative ? 1 : 0);
  char digits[15];
  digits[0] = m[0];
  std::memcpy(digits + 1, m + 2, 14);
  const int exponent = std::atoi(std::strchr(m, 'e') + 1);
  bool allZero = true;
  for (char d : digits) allZero = allZero && d == '0';
  if (allZero) return "0.00";

  if (exponent + 1 > 15) {
    // More integer digits than the precision: exponent form.
    std::string out = negative ? "-" : "";
    out.push_back(digits[0]);
    out.push_back('.');
    out.append(digits + 1, 14);
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += e;
    return out;
  }
  // Digit at power p of ten (p = exponent is the first significant one).
  auto digitAt = [&](int p) -> int {
    const int i = exponent - p;
    return i >= 0 && i < 15 ? digits[i] - '0' : 0;
  };
  // Value times 100, as decimal digits, then rounded half away from zero
  // at the third decimal.
  const int top = exponent > 0 ? exponent : 0;
  std::string n;
  for (int p = top; p >= -2; --p) n.push_back(static_cast<char>('0' + digitAt(p)));
  if (digitAt(-3) >= 5) {
    int i = static_cast<int>(n.size()) - 1;
    while (i >= 0 && n[i] == '9') n[i--] = '0';
    if (i >= 0)
      ++n[i];
    else
      n.insert(n.begin(), '1');
  }
  // Drop leading zeros of the integer part, keep one.
  size_t lead = 0;
  while (lead + 3 < n.size() && n[lead] == '0') ++lead;
  n.erase(0, lead);
  bool zero = true;
  for (char c : n) zero = zero && c == '0';
  std::string out = negative && !zero ? "-" : "";
  out.append(n, 0, n.size() - 2);
  out.push_back('.');
  out.append(n, n.size() - 2, 2);
  return out;
}

bool IsZeroDateTime(const DateTime& v) {
  if (v.year == 0 && v.month == 0 && v.day == 0) return true;
  return v.year == 1899 && v.month == 12 && v.day == 30 && v.hour == 0 && v.minute == 0 && v.second == 0 &&
         v.millisecond == 0;
}

std::string FormatIsoDateTime(const DateTime& v) {
  auto clamp = [](int x, int hi) { return x < 0 ? 0 : x > hi ? hi : x; };
  const int y = clamp(v.year, 9999);
  char buf[19];
  auto two = [&](int at, int x) {
    x = clamp(x, 99);
    buf[at] = static_cast<char>('0' + x / 10);
    buf[at + 1] = static_cast<char>('0' + x % 10);
  };
  buf[0] = static_cast<char>('0' + y / 1000);
  buf[1] = static_cast<char>('0' + y / 100 % 10);
  buf[2] = static_cast<char>('0' + y / 10 % 10);
  buf[3] = static_cast<char>('0' + y % 10);
  buf[4] = '-';
  two(5, v.month);
  buf[7] = '-';
  two(8, v.day);
  buf[10] = 'T';
  two(11, v.hour);
  buf[13] = ':';
  two(14, v.minute);
  buf[16] = ':';
  two(17, v.second);
  return std::string(buf, 19);
}

bool HasIsoDateShape(std::string_view t) {
  return t.size() == 19 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' && t[16] == ':';
}

DateTime ParseISODate(std::string_view t) {
  if (!HasIsoDateShape(t)) throw std::invalid_argument("Invalid ISO Date");
  auto field = [&](size_t pos, size_t len, int& out) {
    int v = 0;
    for (size_t i = pos; i < pos + len; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      v = v * 10 + (t[i] - '0');
    }
    out = v;
    return true;
  };
  DateTime d;
  const bool ok = field(0, 4, d.year) && field(5, 2, d.month) && field(8, 2, d.day) && field(11, 2, d.hour) &&
                  field(14, 2, d.minute) && field(17, 2, d.second);
  if (!ok || !d.HasValidDate() || !d.HasValidTime())
    throw std::invalid_argument("'" + std::string(t) + "' is not a valid date and time");
  return d;
}

std::string LowerColumnName(std::string_view name) {
  std::string out(name);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00C0..U+00DE except U+00D7 (multiplication sign).
      auto n = static_cast<unsigned char>(out[i + 1]);
      if (n >= 0x80 && n <= 0x9E && n != 0x97) out[i + 1] = static_cast<char>(n + 0x20);
      ++i;
    }
  }
  return out;
}

}  // namespace tarvo::server
