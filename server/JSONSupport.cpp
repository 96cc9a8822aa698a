#include "server/JSONSupport.h"

#include <cstring>

#include "common/Codepage.h"
#include "server/StatementBodyReader.h"

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
  TStatementBodyReader reader(TStatementBodyReader::Mode::Statement);
  RunBodyReader(reader, text);
  return std::move(reader.single);
}

std::vector<TRequestStatement> ReadBatchBody(std::string_view text) {
  TStatementBodyReader reader(TStatementBodyReader::Mode::QueryBatch);
  RunBodyReader(reader, text);
  return std::move(reader.batch);
}

std::string ReadRootMember(std::string_view text, std::string_view name, bool* found) {
  TStatementBodyReader reader(TStatementBodyReader::Mode::Member, name);
  RunBodyReader(reader, text);
  if (found) *found = reader.memberFound;
  return std::move(reader.memberValue);
}

}  // namespace tarvo::server
