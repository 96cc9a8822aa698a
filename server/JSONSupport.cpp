#include "server/JSONSupport.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <unordered_set>

#include "common/Codepage.h"
#include "server/JsonBodyReader.h"

namespace tarvo::server {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendUnicodeEscape(std::string& out, unsigned cp) {
  char buf[6] = {'\\', 'u', kHex[(cp >> 12) & 15], kHex[(cp >> 8) & 15], kHex[(cp >> 4) & 15], kHex[cp & 15]};
  out.append(buf, 6);
}

// Length of a valid UTF-8 sequence at p (at most n bytes), 0 when invalid.
size_t ValidSequence(const unsigned char* p, size_t n) {
  const unsigned b = p[0];
  if (b < 0x80) return 1;
  size_t len;
  unsigned cp;
  if ((b & 0xE0) == 0xC0) {
    len = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[k] & 0x3F);
  }
  static constexpr unsigned kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Characters that need no escape, as one lookup.
struct PlainTable {
  bool plain[256];
  PlainTable() {
    for (int c = 0; c < 256; ++c) plain[c] = c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
  }
};
const PlainTable& Plain() {
  static const PlainTable table;
  return table;
}

// Reads request bodies as a stream of events. `Mode` picks what is read;
// everything not read is skipped by depth, so no event recurses.
class BodyReader : public BodySaxReader<BodyReader> {
 public:
  enum class Mode { Statement, Batch, Member };

  BodyReader(Mode mode, std::string_view member = {}) : mode_(mode), member_(member) {}

  TRequestStatement single;
  std::vector<TRequestStatement> batch;
  std::string memberValue;
  bool memberFound = false;

  bool OnOpen(bool object) {
    switch (at_) {
      case At::Start:
        if (!object) return Fail();
        at_ = At::Root;
        return true;
      case At::Root:
        if (mode_ == Mode::Statement && Key() == "params") {
          if (!object) return Fail();
          return Enter(At::Params);
        }
        if (mode_ == Mode::Batch && Key() == "statements") {
          if (object) return Fail();
          return Enter(At::Statements);
        }
        if (mode_ == Mode::Member && Key() == member_) return Fail();
        if (mode_ == Mode::Statement && Key() == "sql") return Fail();
        return Skip();
      case At::Statements:
        if (!object) return Fail();
        batch.emplace_back();
        names_.clear();
        return Enter(At::Element);
      case At::Element:
        if (Key() == "params") {
          if (!object) return Fail();
          return Enter(At::Params);
        }
        if (Key() == "sql") return Fail();
        return Skip();
      case At::Params:
        // A parameter value must be a plain value.
        return Fail();
    }
    return Fail();
  }

  bool OnClose() {
    switch (at_) {
      case At::Root:
        return Stop();
      case At::Params:
        at_ = stack_.back();
        stack_.pop_back();
        if (at_ == At::Root) return Stop();  // "params" ends the reading
        return true;
      case At::Statements:
        return Stop();
      case At::Element:
        at_ = stack_.back();
        stack_.pop_back();
        return true;
      default:
        return Fail();
    }
  }

  bool OnScalar(std::string value) {
    switch (at_) {
      case At::Start:
        return Fail();  // the root must be an object
      case At::Root:
        if (mode_ == Mode::Statement && Key() == "sql") {
          single.Sql = std::move(value);
        } else if (mode_ == Mode::Statement && Key() == "params") {
          return Fail();
        } else if (mode_ == Mode::Batch && Key() == "statements") {
          return Fail();
        } else if (mode_ == Mode::Member && Key() == member_) {
          memberValue = std::move(value);
          memberFound = true;
        }
        return true;
      case At::Element:
        if (Key() == "sql") {
          batch.back().Sql = std::move(value);
        } else if (Key() == "params") {
          return Fail();
        }
        return true;
      case At::Params:
        if (!names_.insert(Key()).second) return Fail();  // name repeated
        Current().Params.emplace_back(Key(), std::move(value));
        return true;
      case At::Statements:
        return Fail();  // statements are objects
    }
    return Fail();
  }

 private:
  // Where the reader stands.
  enum class At {
    Start,      // before the root value
    Root,       // in the root object
    Params,     // in a "params" object
    Statements, // in the "statements" array
    Element,    // in one statement object of the batch
  };

  TRequestStatement& Current() { return mode_ == Mode::Batch ? batch.back() : single; }

  bool Enter(At next) {
    stack_.push_back(at_);
    at_ = next;
    return true;
  }

  Mode mode_;
  std::string member_;
  At at_ = At::Start;
  std::vector<At> stack_;
  std::unordered_set<std::string> names_;
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  const auto& plain = Plain().plain;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  out.push_back('"');
  while (p < end) {
    const auto* run = p;
    while (p < end && plain[*p]) ++p;
    if (p != run) out.append(reinterpret_cast<const char*>(run), p - run);
    if (p >= end) break;
    const unsigned c = *p;
    if (c < 0x80) {
      switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case 0x08: out.append("\\b"); break;
        case 0x09: out.append("\\t"); break;
        case 0x0A: out.append("\\n"); break;
        case 0x0C: out.append("\\f"); break;
        case 0x0D: out.append("\\r"); break;
        default: AppendUnicodeEscape(out, c); break;
      }
      ++p;
      continue;
    }
    const size_t len = ValidSequence(p, end - p);
    if (len == 0) {
      out.append("\xEF\xBF\xBD");
      ++p;
      continue;
    }
    if (len == 2 && c == 0xC2 && p[1] == 0x85) {
      AppendUnicodeEscape(out, 0x85);
    } else if (len == 3 && c == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) {
      AppendUnicodeEscape(out, p[2] == 0xA8 ? 0x2028 : 0x2029);
    } else {
      out.append(reinterpret_cast<const char*>(p), len);
    }
    p += len;
  }
  out.push_back('"');
}

std::string PayloadToText(std::string_view payload) {
  if (payload.size() >= 3 && std::memcmp(payload.data(), "\xEF\xBB\xBF", 3) == 0) payload.remove_prefix(3);
  if (IsValidUtf8(payload)) return std::string(payload);
  std::string out;
  out.reserve(payload.size() + 16);
  const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
  const auto* end = p + payload.size();
  while (p < end) {
    const size_t len = ValidSequence(p, end - p);
    if (len == 0) {
      out.append("\xEF\xBF\xBD");
      ++p;
    } else {
      out.append(reinterpret_cast<const char*>(p), len);
      p += len;
    }
  }
  return out;
}

TRequestStatement ReadStatementBody(std::string_view text) {
  BodyReader reader(BodyReader::Mode::Statement);
  RunBodyReader(reader, text);
  return std::move(reader.single);
}

std::vector<TRequestStatement> ReadBatchBody(std::string_view text) {
  BodyReader reader(BodyReader::Mode::Batch);
  RunBodyReader(reader, text);
  return std::move(reader.batch);
}

std::string ReadRootMember(std::string_view text, std::string_view name, bool* found) {
  BodyReader reader(BodyReader::Mode::Member, name);
  RunBodyReader(reader, text);
  if (found) *found = reader.memberFound;
  return std::move(reader.memberValue);
}

}  // namespace tarvo::server
