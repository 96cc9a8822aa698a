#include "common/RtfToText.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "common/Codepage.h"

namespace tarvo {
namespace {

// Destinations whose text is not part of the visible document.
const std::unordered_set<std::string_view>& SkippedDestinations() {
  static const std::unordered_set<std::string_view> names = {
      "fonttbl",    "colortbl",   "stylesheet", "info",        "pict",      "object",
      "objdata",    "filetbl",    "listtable",  "listoverridetable",      "revtbl",
      "rsidtbl",    "generator",  "themedata",  "colorschememapping",     "datastore",
      "latentstyles", "xmlnstbl", "header",     "headerl",     "headerr",   "headerf",
      "footer",     "footerl",    "footerr",    "footerf",     "footnote",  "fldinst",
      "pntext",     "pntxta",     "pntxtb",     "listtext",    "shp",       "nonshppict",
      "shppict",    "bkmkstart",  "bkmkend",    "xe",          "tc",        "template",
      "userprops",  "docvar",     "annotation", "atnid",       "atnauthor", "mmathPr",
      "fontemb",    "fontfile",   "falt",       "panose",      "passwordhash", "wgrffmtfilter"};
  return names;
}

constexpr size_t kMaxDepth = 1 << 20;

struct Group {
  bool skip = false;  // inside a destination that is not shown
  int uc = 1;         // fallback characters that follow a \uN
};

class Converter {
 public:
  Converter(std::string_view in) : in_(in), rawUtf8_(IsValidUtf8(in)) {}

  std::string Run() {
    groups_.push_back(Group{});
    size_t depth = 0;  // open braces, the document's own included
    while (pos_ < in_.size()) {
      const char c = in_[pos_];
      if (c == '{') {
        ++pos_;
        fallback_ = 0;
        // Beyond kMaxDepth groups share their parent's state; that keeps the
        // memory bounded for hostile input and changes nothing for real files.
        if (groups_.size() < kMaxDepth)
          groups_.push_back(groups_.back());
        else
          ++shared_;
        ++depth;
      } else if (c == '}') {
        ++pos_;
        fallback_ = 0;
        if (shared_ > 0)
          --shared_;
        else if (groups_.size() > 1)
          groups_.pop_back();
        if (depth > 0 && --depth == 0) break;  // end of the document
      } else if (c == '\\') {
        ++pos_;
        ControlSequence();
      } else if (c == '\r' || c == '\n') {
        ++pos_;
      } else {
        ++pos_;
        if (Fallback()) continue;
        if (static_cast<unsigned char>(c) < 0x80)
          Text(c == '\t' || static_cast<unsigned char>(c) >= 0x20 ? c : 0);
        else
          RawHighByte(c);
      }
    }
    FlushSurrogate();
    // A final \par ends the last paragraph; it separates nothing.
    if (out_.size() >= 2 && out_.compare(out_.size() - 2, 2, "\r\n") == 0 && lastWasPar_)
      out_.resize(out_.size() - 2);
    return std::move(out_);
  }

 private:
  bool Skipping() const { return groups_.back().skip; }

  // Consumes one character of a \uN fallback; true when it was one.
  bool Fallback() {
    if (fallback_ <= 0) return false;
    --fallback_;
    return true;
  }

  void ControlSequence() {
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (IsLetter(c)) {
      const size_t start = pos_;
      while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
      const std::string_view word = in_.substr(start, pos_ - start);
      bool hasParam = false;
      bool negative = false;
      int64_t param = 0;
      if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() && IsDigit(in_[pos_ + 1])) {
        negative = true;
        ++pos_;
      }
      while (pos_ < in_.size() && IsDigit(in_[pos_])) {
        hasParam = true;
        if (param < 100000000000LL) param = param * 10 + (in_[pos_] - '0');
        ++pos_;
      }
      if (negative) param = -param;
      if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;  // the delimiter belongs to the word
      if (word == "bin") {
        // Binary data of `param` bytes follows; never interpreted.
        const size_t n = hasParam && param > 0 ? static_cast<size_t>(param) : 0;
        pos_ += std::min(n, in_.size() - pos_);
        return;
      }
      if (Fallback()) return;
      Word(word, hasParam, param);
      return;
    }
    ++pos_;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        if (!Fallback()) Text(c);
        return;
      case '\'': {
        int value = 0;
        int digits = 0;
        while (digits < 2 && pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
          value = value * 16 + HexValue(in_[pos_]);
          ++pos_;
          ++digits;
        }
        if (Fallback() || digits == 0) return;
        if (value >= 0x80) {
          const char byte = static_cast<char>(value);
          AppendText(Cp1252ToUtf8(std::string_view(&byte, 1)));
        } else {
          Text(value == '\t' || value >= 0x20 ? static_cast<char>(value) : 0);
        }
        return;
      }
      case '*':
        groups_.back().skip = true;  // an optional destination we do not know
        return;
      case '\r':
      case '\n':
        if (!Fallback()) Paragraph();
        return;
      case '~':
        if (!Fallback()) AppendCodePoint(0x00A0);
        return;
      case '_':
        if (!Fallback()) Text('-');
        return;
      default:  // \- optional hyphen, \: index entry and other symbols
        Fallback();
        return;
    }
  }

  void Word(std::string_view word, bool hasParam, int64_t param) {
    if (SkippedDestinations().count(word)) {
      groups_.back().skip = true;
      return;
    }
    if (word == "uc") {
      groups_.back().uc = hasParam && param >= 0 && param < 1000 ? static_cast<int>(param) : 1;
      return;
    }
    if (word == "u") {
      if (!hasParam) return;
      int64_t cp = param < 0 ? param + 65536 : param;
      if (cp < 0 || cp > 0xFFFF) cp = 0xFFFD;
      fallback_ = groups_.back().uc;
      if (!Skipping()) Unicode(static_cast<char32_t>(cp));
      return;
    }
    if (Skipping()) return;
    if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row") {
      Paragraph();
    } else if (word == "tab" || word == "cell" || word == "nestcell") {
      Text('\t');
    } else if (word == "emdash") {
      AppendCodePoint(0x2014);
    } else if (word == "endash") {
      AppendCodePoint(0x2013);
    } else if (word == "bullet") {
      AppendCodePoint(0x2022);
    } else if (word == "lquote") {
      AppendCodePoint(0x2018);
    } else if (word == "rquote") {
      AppendCodePoint(0x2019);
    } else if (word == "ldblquote") {
      AppendCodePoint(0x201C);
    } else if (word == "rdblquote") {
      AppendCodePoint(0x201D);
    } else if (word == "emspace" || word == "enspace" || word == "qmspace") {
      Text(' ');
    }
  }

  void Paragraph() {
    if (Skipping()) return;
    FlushSurrogate();
    out_ += "\r\n";
    lastWasPar_ = true;
  }

  void Text(char c) {
    if (Skipping() || c == 0) return;
    FlushSurrogate();
    out_.push_back(c);
    lastWasPar_ = false;
  }

  void AppendText(const std::string& text) {
    if (Skipping() || text.empty()) return;
    FlushSurrogate();
    out_ += text;
    lastWasPar_ = false;
  }

  // A byte above 0x7F outside an escape: part of UTF-8 text when the whole
  // input is valid UTF-8, else a Windows-1252 character.
  void RawHighByte(char c) {
    if (Skipping()) return;
    if (rawUtf8_) {
      // Continuation bytes follow directly; copy the whole sequence.
      FlushSurrogate();
      out_.push_back(c);
      while (pos_ < in_.size() && (static_cast<unsigned char>(in_[pos_]) & 0xC0) == 0x80)
        out_.push_back(in_[pos_++]);
      lastWasPar_ = false;
    } else {
      AppendText(Cp1252ToUtf8(std::string_view(&c, 1)));
    }
  }

  void Unicode(char32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      FlushSurrogate();
      highSurrogate_ = cp;
      return;
    }
    if (cp >= 0xDC00 && cp <= 0xDFFF) {
      if (highSurrogate_) {
        const char32_t full = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (cp - 0xDC00);
        highSurrogate_ = 0;
        AppendCodePoint(full);
      } else {
        AppendCodePoint(0xFFFD);
      }
      return;
    }
    if (cp == 0) return;
    if (cp < 0x20 && cp != '\t') return;
    AppendCodePoint(cp);
  }

  void FlushSurrogate() {
    if (!highSurrogate_) return;
    highSurrogate_ = 0;
    AppendUtf8(0xFFFD);
  }

  void AppendCodePoint(char32_t cp) {
    if (Skipping()) return;
    FlushSurrogate();
    AppendUtf8(cp);
    lastWasPar_ = false;
  }

  void AppendUtf8(char32_t cp) {
    if (cp < 0x80) {
      out_.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::string_view in_;
  size_t pos_ = 0;
  const bool rawUtf8_;
  std::vector<Group> groups_;  // the group stack lives on the heap: any depth
  size_t shared_ = 0;          // groups deeper than kMaxDepth
  int fallback_ = 0;           // fallback characters still to skip after \uN
  char32_t highSurrogate_ = 0;
  bool lastWasPar_ = false;
  std::string out_;
};

}  // namespace

std::string RtfToText(std::string_view rtf) {
  if (rtf.substr(0, 5) != "{\\rtf") return std::string(rtf);
  try {
    return Converter(rtf).Run();
  } catch (...) {
    return {};
  }
}

}  // namespace tarvo
