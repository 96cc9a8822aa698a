#include "server/Token.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>

#include "server/Envelope.h"

namespace tarvo::server {
namespace {

// The layers under the URL encoding of a token: its hex text.
std::string HexTextOf(const std::string& tokenText) {
  std::string base64;
  EXPECT_TRUE(token::UrlDecode(tokenText, base64)) << tokenText;
  return envelope::Base64DecodeLenient(base64);
}

TEST(TokenTest, RoundTripOfLatin1Texts) {
  const std::string cases[] = {
      "A",
      "Hallo Welt",
      "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, \xC3\x84rger & Co. 100%",
      "Zeile 1\r\nZeile 2\t+/=?",
      std::string("mit\0Null", 8),
      std::string(200, 'x'),
      std::string(kMaxTokenChars, 'q'),
  };
  for (const auto& text : cases) {
    const std::string t = EncryptValue(text);
    ASSERT_FALSE(t.empty()) << text;
    EXPECT_EQ(DecryptValue(t), text) << text.substr(0, 40);
  }
}

TEST(TokenTest, EmptyAndOverlongTextsGiveEmptyTokens) {
  EXPECT_EQ(EncryptValue(""), "");
  EXPECT_EQ(DecryptValue(""), "");
  EXPECT_EQ(EncryptValue(std::string(kMaxTokenChars + 1, 'q')), "");
}

TEST(TokenTest, OnlyTheLowEightBitsOfACharacterSurvive) {
  // The euro sign is U+20AC; its low byte 0xAC is the not sign.
  EXPECT_EQ(DecryptValue(EncryptValue("5 \xE2\x82\xAC")), "5 \xC2\xAC");
  // Outside the code page altogether: the code page's '?'.
  EXPECT_EQ(DecryptValue(EncryptValue("\xE2\x88\x9E")), "?");
}

TEST(TokenTest, LayersOfTheTokenFormat) {
  // One character: six bytes of hex text, eight Base64 characters, no
  // padding.
  const std::string one = EncryptValue("A");
  EXPECT_EQ(one.size(), 8u) << one;
  const std::string hex = HexTextOf(one);
  ASSERT_EQ(hex.size(), 6u);
  EXPECT_EQ(hex[0], '$');
  EXPECT_EQ(hex.substr(3), "$00");
  // The first value is the character XOR the high byte of the start key.
  const unsigned first = 'A' ^ (TokenScramblerConstants::StartKey >> 8);
  char expected[3];
  std::snprintf(expected, sizeof expected, "%02X", first);
  EXPECT_EQ(hex.substr(1, 2), expected);

  // n characters: 6n bytes of hex text in upper-case "$hh$00" groups;
  // Base64 lines of 76 characters joined by CR LF, all URL-encoded.
  const std::string text(40, 'z');
  const std::string t = EncryptValue(text);
  const std::string h = HexTextOf(t);
  ASSERT_EQ(h.size(), 240u);
  for (size_t i = 0; i < h.size(); i += 6) {
    EXPECT_EQ(h[i], '$');
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(h[i + 1])) && !std::islower(h[i + 1])) << h;
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(h[i + 2])) && !std::islower(h[i + 2])) << h;
    EXPECT_EQ(h.substr(i + 3, 3), "$00");
  }
  std::string base64;
  ASSERT_TRUE(token::UrlDecode(t, base64));
  EXPECT_EQ(base64, envelope::Base64EncodeMime(h));
  EXPECT_EQ(base64.substr(76, 2), "\r\n");
  EXPECT_NE(t.find("%0D%0A"), std::string::npos);
  for (char c : t) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("!$'()*-.@_%", c)) << t;
  // The same text always gives the same token.
  EXPECT_EQ(EncryptValue(text), t);
}

TEST(TokenTest, UrlEncodingTable) {
  EXPECT_EQ(token::UrlEncode("aZ09!$'()*-.@_"), "aZ09!$'()*-.@_");
  EXPECT_EQ(token::UrlEncode("+/= \r\n%\xC3\xA4"), "%2B%2F%3D+%0D%0A%25%C3%A4");
  std::string out;
  ASSERT_TRUE(token::UrlDecode("a%%b+c%2b%2F%c3%A4", out));
  EXPECT_EQ(out, "a%b c+/\xC3\xA4");
}

TEST(TokenTest, MalformedTokensGiveEmptyText) {
  const std::string good = EncryptValue("Hallo");
  std::string base64;
  ASSERT_TRUE(token::UrlDecode(good, base64));
  const std::string hex = envelope::Base64DecodeLenient(base64);
  auto tokenOfHex = [](const std::string& h) { return token::UrlEncode(envelope::Base64EncodeMime(h)); };
  const std::string cases[] = {
      good + "%",
      good + "%4",
      "%G1" + good,
      good.substr(0, 3) + "%" + good.substr(3),
      tokenOfHex(hex.substr(0, hex.size() - 1)),        // a group cut short
      tokenOfHex(hex + "$4"),                           // odd length
      tokenOfHex("$G1$00"),                             // no hex number
      tokenOfHex("#41$00"),                             // no "$"
      tokenOfHex("$4 $00"),
      tokenOfHex("$-1$00"),
      [] {  // one character more than a token may hold
        std::string h;
        for (size_t i = 0; i < kMaxTokenChars + 1; ++i) h += "$41$00";
        return token::UrlEncode(envelope::Base64EncodeMime(h));
      }(),
  };
  for (const auto& c : cases) EXPECT_EQ(DecryptValue(c), "") << c.substr(0, 60);

  // Garbage of every kind, 1 MB of it: empty, no crash.
  std::mt19937 rng(7);
  std::string noise(1 << 20, '\0');
  for (auto& ch : noise) ch = static_cast<char>(rng());
  EXPECT_EQ(DecryptValue(noise), "");
  std::string printable(1 << 20, '\0');
  for (auto& ch : printable) ch = "AZaz09+/=%$\r\n"[rng() % 13];
  EXPECT_EQ(DecryptValue(printable), "");
}

TEST(TokenTest, ReadingIsLenientWhereTheFormatAllows) {
  const std::string text = "Lenient reading of a token of some length, beyond one Base64 line";
  const std::string t = EncryptValue(text);
  // Lower-case percent digits; Base64 without its line breaks.
  std::string lower = t;
  for (size_t p = lower.find('%'); p != std::string::npos; p = lower.find('%', p + 1))
    for (size_t k = p + 1; k <= p + 2; ++k) lower[k] = static_cast<char>(std::tolower(lower[k]));
  EXPECT_EQ(DecryptValue(lower), text);
  std::string noBreaks = t;
  for (size_t p; (p = noBreaks.find("%0D%0A")) != std::string::npos;) noBreaks.erase(p, 6);
  EXPECT_EQ(DecryptValue(noBreaks), text);
  // A trailing single byte of the hex text is ignored.
  std::string base64;
  ASSERT_TRUE(token::UrlDecode(EncryptValue("Ok"), base64));
  const std::string hex = envelope::Base64DecodeLenient(base64) + "$7F";
  EXPECT_EQ(DecryptValue(token::UrlEncode(envelope::Base64EncodeMime(hex))), "Ok");
}

TEST(TokenTest, UnscrambleInvertsScrambleForEveryByte) {
  std::u16string all;
  for (int rep = 0; rep < 3; ++rep)
    for (char16_t c = 0; c < 256; ++c) all.push_back(c);
  const std::u16string s = token::Scramble(all);
  for (char16_t v : s) EXPECT_LT(v, 256);
  EXPECT_EQ(token::Unscramble(s), all);
  // Feedback: changing one character changes every value after it.
  std::u16string other = all;
  other[10] ^= 1;
  const std::u16string s2 = token::Scramble(other);
  EXPECT_EQ(s2.substr(0, 10), s.substr(0, 10));
  size_t differ = 0;
  for (size_t i = 11; i < s.size(); ++i) differ += s[i] != s2[i];
  EXPECT_GT(differ, s.size() / 2);
}

}  // namespace
}  // namespace tarvo::server
