#include "server/Envelope.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo::server::envelope {
namespace {

std::string ToHex(std::string_view bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

// Reference values computed independently with
//   openssl enc -aes-256-ctr -K <hex of the 32-byte key> -iv <hex of "Hp3xVuN9dRtE6yWk">
struct KnownAnswer {
  const char* key;
  std::string plain;
  const char* cipherHex;
};

TEST(EnvelopeTest, KnownAnswersMatchOpenSslCommandLine) {
  std::string bytes100;
  for (int i = 0; i < 100; ++i) bytes100.push_back(static_cast<char>(i));
  const KnownAnswer cases[] = {
      {"geheim", "Hallo Welt", "79bcd09a4baac88b4414"},
      // 40 characters: only the first 32 count.
      {"0123456789abcdefghijklmnopqrstuvwxyzABCD", bytes100,
       "cfcfa07307ce2e944dffed9b906f1c02369c44da7d42a43692ea91070dd893fdeb43f9ad0da784c60754b5fb9439bdd3b4953c18"
       "bedfe9c3818551cb70cf38504a9364e308f35ac263f3f0816e549460c981389d67b89652359292454ddce11506644f24"},
      {"0123456789abcdefghijklmnopqrstuv", bytes100,
       "cfcfa07307ce2e944dffed9b906f1c02369c44da7d42a43692ea91070dd893fdeb43f9ad0da784c60754b5fb9439bdd3b4953c18"
       "bedfe9c3818551cb70cf38504a9364e308f35ac263f3f0816e549460c981389d67b89652359292454ddce11506644f24"},
      // A key character outside ASCII goes in as its Windows-1252 byte.
      {"schl\xC3\xBCssel", "abc", "d20130"},
  };
  for (const auto& c : cases) {
    std::string data = c.plain;
    AesCtrInPlace(Make256BitKey(c.key), data.data(), data.size());
    EXPECT_EQ(ToHex(data), c.cipherHex) << c.key;
    EXPECT_EQ(data.size(), c.plain.size());
    AesCtrInPlace(Make256BitKey(c.key), data.data(), data.size(), false);
    EXPECT_EQ(data, c.plain) << c.key;
  }
  EXPECT_EQ(EncryptToBase64("geheim", R"({"sql":"SELECT 1 FROM RDB$DATABASE"})"),
            "Sv/Ph0iopcx7JV993N0nYst1moYZRZJawMpQ7ZkeQXKxedIK");
}

TEST(EnvelopeTest, CounterContinuesAcrossChunks) {
  // 8 MiB + 37 zero bytes: the tail is keystream past the first chunk.
  std::string data(kChunkSize + 37, '\0');
  AesCtrInPlace(Make256BitKey("geheim"), data.data(), data.size());
  EXPECT_EQ(ToHex(std::string_view(data).substr(kChunkSize)),
            "688ba07c921be33bc3d2b7fc8e65b8cc374d3d860e28f79f32014b4cb28f56ba421035b1a0");
}

TEST(EnvelopeTest, KeyTextIsCutOrPaddedToThirtyTwoCharacters) {
  const std::string k40 = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  EXPECT_EQ(Make256BitKeyText(k40), k40.substr(0, 32));
  EXPECT_EQ(Make256BitKey(k40), Make256BitKey(k40.substr(0, 32)));
  EXPECT_EQ(Make256BitKeyText("abcde"), "abcde" + std::string(27, '0'));
  EXPECT_EQ(Make256BitKeyText(""), std::string(32, '0'));
  // Characters, not bytes, are counted: 32 umlauts stay 32 characters.
  std::string umlauts;
  for (int i = 0; i < 33; ++i) umlauts += "\xC3\xA4";
  EXPECT_EQ(Make256BitKeyText(umlauts), umlauts.substr(0, 64));
  EXPECT_EQ(Make256BitKey(umlauts)[31], 0xE4);
  // A character the code page lacks becomes '?'.
  EXPECT_EQ(Make256BitKey("\xE2\x98\x83")[0], '?');
}

TEST(EnvelopeTest, Base64LineBreaksFollowCompleteGroups) {
  struct Case {
    size_t size;
    size_t length;
    bool endsWithCrLf;
  };
  const Case cases[] = {{0, 0, false}, {1, 4, false}, {56, 76, false}, {57, 78, true},
                        {58, 82, false}, {114, 156, true}, {115, 160, false}};
  for (const auto& c : cases) {
    std::string bytes(c.size, 'x');
    const std::string text = Base64EncodeMime(bytes);
    EXPECT_EQ(text.size(), c.length) << c.size;
    EXPECT_EQ(Base64EncodedSize(c.size), c.length);
    EXPECT_EQ(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n", c.endsWithCrLf) << c.size;
    // Every line but the last is 76 characters.
    size_t pos = 0;
    while (true) {
      const size_t e = text.find("\r\n", pos);
      if (e == std::string::npos) {
        EXPECT_LE(text.size() - pos, 76u);
        break;
      }
      EXPECT_EQ(e - pos, 76u);
      pos = e + 2;
    }
    EXPECT_EQ(Base64DecodeLenient(text), bytes);
  }
  const std::string t58 = Base64EncodeMime(std::string(58, 'x'));
  EXPECT_EQ(t58.substr(76, 2), "\r\n");
  EXPECT_EQ(t58.substr(78), "eA==");
}

TEST(EnvelopeTest, Base64ReaderSkipsForeignCharactersAndDropsLeftoverBits) {
  struct Case {
    const char* text;
    const char* bytes;
  };
  const Case cases[] = {
      {"SGFsbG8=", "Hallo"},       {"SGFs\r\nbG8=", "Hallo"}, {" S G F s b G 8 ", "Hallo"},
      {"SGFsbG8", "Hallo"},        {"SGFsbA", "Hall"},        {"SGFsb", "Hal"},
      {"*SGF$sbG8=!", "Hallo"},    {"", ""},                  {"====", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Base64DecodeLenient(c.text), c.bytes) << c.text;
  // All byte values survive the round trip.
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_EQ(Base64DecodeLenient(Base64EncodeMime(all)), all);
}

TEST(EnvelopeTest, MessagesStartAFreshCounter) {
  const std::string payload(1000, 'a');
  const std::string a = EncryptToBase64("k", payload);
  EXPECT_EQ(a, EncryptToBase64("k", payload));
  EXPECT_EQ(DecryptFromBase64("k", a), payload);
  // The same with and without line breaks.
  std::string flat;
  for (char c : a)
    if (c != '\r' && c != '\n') flat.push_back(c);
  EXPECT_EQ(DecryptFromBase64("k", flat), payload);
  EXPECT_NE(DecryptFromBase64("other", a), payload);
  EXPECT_EQ(EncryptToBase64("k", ""), "");
  EXPECT_EQ(DecryptFromBase64("k", ""), "");
}

}  // namespace
}  // namespace tarvo::server::envelope
