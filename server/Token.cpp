#include "server/Token.h"

#include "common/Codepage.h"
#include "server/Envelope.h"
#include "server/WebText.h"

namespace tarvo::server {
namespace {

using K = TokenScramblerConstants;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// UTF-8 -> code points, '?' for what cannot be read. The input went
// through Cp1252ToUtf8, so it is valid and below U+10000.
std::u16string Utf8ToUnits(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out.push_back(b);
      i += 1;
    } else if ((b & 0xE0) == 0xC0 && i + 1 < s.size()) {
      out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | (s[i + 1] & 0x3F)));
      i += 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < s.size()) {
      out.push_back(static_cast<char16_t>(((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F)));
      i += 3;
    } else {
      out.push_back(u'?');
      i += 1;
    }
  }
  return out;
}

bool IsUrlSafe(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!': case '$': case '\'': case '(': case ')': case '*': case '-': case '.': case '@': case '_':
      return true;
    default:
      return false;
  }
}

}  // namespace

namespace token {

std::u16string Scramble(const std::u16string& chars) {
  uint16_t key = K::StartKey;
  std::u16string out;
  out.reserve(chars.size());
  for (char16_t c : chars) {
    const uint16_t r = static_cast<uint16_t>((c & 0xFF) ^ (key >> 8));
    key = static_cast<uint16_t>(static_cast<uint16_t>(r + key) * K::Multiplier + K::Addend);
    out.push_back(static_cast<char16_t>(r));
  }
  return out;
}

std::u16string Unscramble(const std::u16string& values) {
  uint16_t key = K::StartKey;
  std::u16string out;
  out.reserve(values.size());
  for (char16_t s : values) {
    const uint16_t p = static_cast<uint16_t>((s & 0xFF) ^ (key >> 8));
    key = static_cast<uint16_t>(static_cast<uint16_t>(s + key) * K::Multiplier + K::Addend);
    out.push_back(static_cast<char16_t>(p));
  }
  return out;
}

std::string UrlEncode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUrlSafe(c)) {
      out.push_back(ch);
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 15]);
    }
  }
  return out;
}

bool UrlDecode(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out.push_back('%');
      ++i;
    } else {
      if (i + 2 >= text.size()) return false;
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    }
  }
  return true;
}

}  // namespace token

std::string EncryptValue(std::string_view text) {
  try {
    // Through the system's code page to characters.
    const std::u16string chars = Utf8ToUnits(Cp1252ToUtf8(Utf8ToCp1252(text)));
    if (chars.size() > kMaxTokenChars) return {};
    const std::u16string scrambled = token::Scramble(chars);
    std::string hex;
    hex.reserve(scrambled.size() * 6);
    for (char16_t v : scrambled) {
      hex.push_back('$');
      hex.push_back(kHexDigits[(v >> 4) & 15]);
      hex.push_back(kHexDigits[v & 15]);
      hex.append("$00");
    }
    return token::UrlEncode(envelope::Base64EncodeMime(hex));
  } catch (...) {
    return {};
  }
}

std::string DecryptValue(std::string_view tokenText) {
  try {
    std::string base64;
    if (!token::UrlDecode(tokenText, base64)) return {};
    // Characters outside the Base64 alphabet (line breaks, and the bytes of
    // any non-ASCII character) are skipped by the decoder.
    const std::string hex = envelope::Base64DecodeLenient(base64);
    if (hex.size() % 3 != 0) return {};
    const size_t groups = hex.size() / 3;
    if (groups / 2 > kMaxTokenChars) return {};
    std::u16string values;
    values.reserve(groups / 2);
    int low = -1;
    for (size_t g = 0; g < groups; ++g) {
      const char* p = hex.data() + g * 3;
      const int hi = HexValue(p[1]);
      const int lo = HexValue(p[2]);
      if (p[0] != '$' || hi < 0 || lo < 0) return {};
      const int byte = hi * 16 + lo;
      if (low < 0) {
        low = byte;
      } else {
        values.push_back(static_cast<char16_t>(low | (byte << 8)));
        low = -1;
      }
    }
    const std::u16string chars = token::Unscramble(values);
    // Latin-1 characters back to the system's code page.
    std::string utf8;
    utf8.reserve(chars.size() * 2);
    for (char16_t c : chars) {
      if (c < 0x80) {
        utf8.push_back(static_cast<char>(c));
      } else {
        utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
        utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return Cp1252ToUtf8(Utf8ToCp1252(utf8));
  } catch (...) {
    return {};
  }
}

}  // namespace tarvo::server
