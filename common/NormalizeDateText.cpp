// The date-text normaliser: short, hand-typed date entries ("5", "1503",
// "15-3", "15.3.25 14.30") become full date texts in the locale's short
// date (and long time) format, so that the server can cast them.
//
// The conversion of the assembled text follows the Delphi run-time
// library's StrToDate / StrToDateTime, which the entries were designed
// around: numbers separated by the date separator in the short date
// format's order, blanks skipped before every number and separator, a
// number stops once it reaches four digits, two-digit years go through the
// century window, an optional trailing date separator, an optional time of
// hours[:minutes[:seconds[,milliseconds]]].
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "common/IBTarvo.h"
#include "common/IBTarvoDetail.h"
#include "common/TextUtil.h"

namespace tarvo::db {

namespace {

const char kInvalidDate[] =
    "Bitte geben Sie ein g\xC3\xBCltiges Datum ein, oder dr\xC3\xBC"
    "cken Sie die [ESC]-Taste";

enum class DateOrder { DMY, MDY, YMD };

DateOrder OrderOf(const std::string& shortDateFormat) {
  for (char c : shortDateFormat) {
    switch (std::toupper(static_cast<unsigned char>(c))) {
      case 'D': return DateOrder::DMY;
      case 'M': return DateOrder::MDY;
      case 'Y':
      case 'E': return DateOrder::YMD;
    }
  }
  return DateOrder::MDY;
}

class Scanner {
 public:
  Scanner(const std::string& text, const FormatSettings& settings, const DateTime& today)
      : s_(text), fs_(settings), today_(today) {}

  bool AtEnd() const { return pos_ >= s_.size(); }

  void Blanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }

  bool Char(char c) {
    Blanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Number(int& value, int& digits) {
    Blanks();
    size_t i = pos_;
    int n = 0;
    while (i < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i])) && n < 1000) {
      n = n * 10 + (s_[i] - '0');
      ++i;
    }
    if (i == pos_) return false;
    digits = static_cast<int>(i - pos_);
    value = n;
    pos_ = i;
    return true;
  }

  bool Date(DateTime& value) {
    int n1, n2, n3, l1, l2, l3;
    const char sep = fs_.DateSeparator;
    if (!(Number(n1, l1) && Char(sep) && Number(n2, l2))) return false;
    const DateOrder order = OrderOf(fs_.ShortDateFormat);
    int y, m, d;
    if (Char(sep)) {
      if (!Number(n3, l3)) return false;
      int yearDigits;
      switch (order) {
        case DateOrder::MDY: y = n3; yearDigits = l3; m = n1; d = n2; break;
        case DateOrder::DMY: y = n3; yearDigits = l3; m = n2; d = n1; break;
        default: y = n1; yearDigits = l1; m = n2; d = n3; break;
      }
      if (yearDigits <= 2) y = fs_.ExpandTwoDigitYear(y, today_.year);
    } else {
      y = today_.year;
      if (order == DateOrder::MDY) {
        d = n2;
        m = n1;
      } else {
        d = n1;
        m = n2;
      }
    }
    Char(sep);
    Blanks();
    DateTime v{y, m, d, 0, 0, 0, 0};
    if (!v.HasValidDate()) return false;
    value = v;
    return true;
  }

  bool Time(DateTime& value) {
    int hour, minute = 0, second = 0, ms = 0, junk;
    if (!Number(hour, junk)) return false;
    if (Char(fs_.TimeSeparator)) {
      if (!Number(minute, junk)) return false;
      if (Char(fs_.TimeSeparator)) {
        if (!Number(second, junk)) return false;
        if (Char(fs_.DecimalSeparator) && !Number(ms, junk)) return false;
      }
    }
    Blanks();
    if (hour >= 24 || minute >= 60 || second >= 60 || ms >= 1000) return false;
    value.hour = hour;
    value.minute = minute;
    value.second = second;
    value.millisecond = ms;
    return true;
  }

  void Rewind() { pos_ = 0; }

 private:
  const std::string& s_;
  const FormatSettings& fs_;
  const DateTime& today_;
  size_t pos_ = 0;
};

struct InvalidDate {};

// StrToDate: a date and nothing else.
DateTime ToDate(const std::string& text, const FormatSettings& fs, const DateTime& today) {
  Scanner scan(text, fs, today);
  DateTime value;
  if (!scan.Date(value) || !scan.AtEnd()) throw InvalidDate{};
  return value;
}

// StrToDateTime: a date with an optional time, or a time alone.
bool TryToDateTime(const std::string& text, const FormatSettings& fs, const DateTime& today,
                   DateTime& out) {
  Scanner scan(text, fs, today);
  DateTime value;
  if (scan.Date(value) && (scan.AtEnd() || (scan.Time(value) && scan.AtEnd()))) {
    out = value;
    return true;
  }
  scan.Rewind();
  DateTime time{1899, 12, 30, 0, 0, 0, 0};
  if (scan.Time(time) && scan.AtEnd()) {
    out = time;
    return true;
  }
  return false;
}

DateTime ToDateTime(const std::string& text, const FormatSettings& fs, const DateTime& today) {
  DateTime value;
  if (!TryToDateTime(text, fs, today, value)) throw InvalidDate{};
  return value;
}

std::string Trim(const std::string& text) {
  const size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return std::string();
  const size_t e = text.find_last_not_of(' ');
  return text.substr(b, e - b + 1);
}

std::string PadTwo(std::string piece) {
  while (piece.size() < 2) piece.insert(piece.begin(), '0');
  return piece;
}

std::vector<std::string> SplitAt(const std::string& text, const std::string& separators) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (separators.find(c) != std::string::npos)
      pieces.emplace_back();
    else
      pieces.back().push_back(c);
  }
  return pieces;
}

// The entry parser: assembles day, month, year (and a time) and converts.
DateTime ParseEntry(const std::string& p, const FormatSettings& fs, const DateTime& today) {
  const char sep = fs.DateSeparator;
  const std::string s(1, sep);
  const std::string currentYear = std::to_string(today.year);
  if (p.find(sep) == std::string::npos) {
    std::string assembled;
    if (p.size() == 3)
      assembled = p.substr(0, 1) + s + p.substr(1, 2) + s + currentYear;
    else if (p.size() == 4)
      assembled = p.substr(0, 2) + s + p.substr(2, 2) + s + currentYear;
    else if (p.size() >= 5)
      assembled = p.substr(0, 2) + s + p.substr(2, 2) + s + p.substr(4);
    else
      throw InvalidDate{};
    return ToDate(assembled, fs, today);
  }
  const std::vector<std::string> pieces = SplitAt(p, s);
  std::string day = std::to_string(today.day);
  std::string month = std::to_string(today.month);
  std::string year = currentYear;
  std::string hours = "00", minutes = "00", seconds = "00";
  day = pieces[0];
  if (pieces.size() > 1) month = pieces[1];
  if (pieces.size() > 2) {
    year = Trim(pieces[2]);
    for (size_t i = 3; i < pieces.size(); ++i) {
      year.push_back(fs.TimeSeparator);
      year += pieces[i];
    }
  }
  const size_t blank = year.find(' ');
  if (blank != std::string::npos) {
    const std::string time = Trim(year.substr(blank + 1));
    year = Trim(year.substr(0, blank));
    const std::vector<std::string> parts =
        SplitAt(time, std::string{':', sep, fs.TimeSeparator});
    if (parts.size() > 0) hours = PadTwo(parts[0]);
    if (parts.size() > 1) minutes = PadTwo(parts[1]);
    if (parts.size() > 2) seconds = PadTwo(parts[2]);
  }
  const std::string assembled =
      day + s + month + s + year + " " + hours + ":" + minutes + ":" + seconds;
  return ToDateTime(assembled, fs, today);
}

bool ContainsWord(const std::string& text) {
  const std::string upper = AsciiUpper(text);
  return upper.find("HEUTE") != std::string::npos ||
         upper.find("MONATSANFANG") != std::string::npos ||
         upper.find("MONATSENDE") != std::string::npos;
}

// Leading blanks, then decimal digits to the end.
bool ReadInteger(const std::string& text, int& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  int n = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    n = n * 10 + (text[i] - '0');
  }
  value = n;
  return true;
}

}  // namespace

namespace detail {
bool TryParseDateTimeText(const std::string& text, const FormatSettings& settings,
                          const DateTime& today, DateTime& value) {
  if (text.size() == 19 && text[4] == '-' && text[7] == '-' && text[10] == 'T') {
    DateTime v{};
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &v.year, &v.month, &v.day, &v.hour,
                    &v.minute, &v.second) == 6 &&
        v.HasValidDate() && v.HasValidTime()) {
      value = v;
      return true;
    }
  }
  return TryToDateTime(text, settings, today, value);
}
}  // namespace detail

std::string NormalizeDateText(const std::string& text, const FormatSettings& fs,
                              const DateTime& today) {
  if (text.empty() || ContainsWord(text)) return text;
  const char sep = fs.DateSeparator;
  std::string work;
  if (text.back() == sep) {
    work = text.substr(0, text.size() - 1);
  } else {
    // Every character other than a blank, a digit, a colon or the date
    // separator becomes the separator (one per character, not per byte).
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == ' ' || std::isdigit(c) || c == ':' || c == static_cast<unsigned char>(sep)) {
        work.push_back(static_cast<char>(c));
      } else {
        if ((c & 0xC0) == 0x80) continue;  // continuation byte of a UTF-8 character
        work.push_back(sep);
      }
    }
  }
  try {
    if (work.size() == 1 || work.size() == 2) {
      int value = 0;
      if (!ReadInteger(work, value)) throw InvalidDate{};
      if (value <= 31) {
        DateTime date{today.year, today.month, value, 0, 0, 0, 0};
        if (!date.HasValidDate()) throw InvalidDate{};
        return fs.FormatShortDate(date);
      }
      const std::string p = std::string(1, work[0]) + sep + work[1];
      return fs.FormatShortDate(ParseEntry(p, fs, today));
    }
    return fs.FormatDefault(ParseEntry(work, fs, today));
  } catch (const InvalidDate&) {
    throw EDatabaseError(kInvalidDate);
  }
}

std::string NormalizeDateText(const std::string& text) {
  return NormalizeDateText(text, SystemFormatSettings(), DateTime::Now());
}

}  // namespace tarvo::db
