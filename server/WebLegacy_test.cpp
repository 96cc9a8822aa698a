#include "server/WebLegacy.h"

#include <gtest/gtest.h>

#include "common/RtfToText.h"
#include "server/DataModul.h"

namespace tarvo::server {
namespace {

TEST(LegacyTest, EscapeJsonTextInItsOrder) {
  struct Case {
    std::string text;
    std::string escaped;
  };
  const Case cases[] = {
      {"a/b", "a\\/b"},
      {"a\\b", "a\\\\b"},
      {"\\/", "\\\\\\/"},
      {"x\r\ny", "x\\r\\ny"},
      {"\b\t\f", "\\b\\t\\f"},
      {std::string("a\0b\x01\x1F", 5), "a b  "},
      {"\"zitiert\"", "\"zitiert\""},
      {"Gr\xC3\xBC\xC3\x9F" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeJsonText(c.text), c.escaped) << c.text;
}

TEST(LegacyTest, TwoStagesOfTheLegacyJsonString) {
  std::string out;
  AppendLegacyJsonString(out, EscapeJsonText("a/b"));
  // a, three backslashes, /, b: a JSON reader sees a, backslash, /, b.
  EXPECT_EQ(out, "\"a\\\\\\/b\"");
  out.clear();
  AppendLegacyJsonString(out, EscapeJsonText("1\n2 \"q\""));
  EXPECT_EQ(out, "\"1\\\\n2 \\\"q\\\"\"");
  out.clear();
  AppendLegacyJsonString(out, "\b\t\n\f\r\x01\xE2\x80\xA8");
  EXPECT_EQ(out, "\"\\b\\t\\n\\f\\r\x01\xE2\x80\xA8\"");
}

TEST(LegacyTest, StatementCodesAreMd5OfTwelveCharacterTokens) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
  const std::string_view tokens[] = {TStatementTokens::Select, TStatementTokens::Update, TStatementTokens::Insert,
                                     TStatementTokens::Delete};
  for (auto t : tokens) {
    EXPECT_EQ(t.size(), 12u) << t;
    for (char c : t) EXPECT_TRUE(c > ' ' && c < 0x7F) << t;
  }
  for (size_t i = 0; i < 4; ++i)
    for (size_t j = i + 1; j < 4; ++j) EXPECT_NE(tokens[i], tokens[j]);
}

TEST(LegacyTest, FormFields) {
  const TFormFields f = ParseFormFields("SQL=SELECT+1+FROM+RDB%24DATABASE&statement=abc&&leer=&ohne&x=a%3Db%ZZ&sql=zwei");
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], (std::pair<std::string, std::string>{"SQL", "SELECT 1 FROM RDB$DATABASE"}));
  EXPECT_EQ(f[2], (std::pair<std::string, std::string>{"leer", ""}));
  EXPECT_EQ(f[3], (std::pair<std::string, std::string>{"ohne", ""}));
  EXPECT_EQ(f[4].second, "a=b%ZZ");
  EXPECT_EQ(FormField(f, "sql"), "SELECT 1 FROM RDB$DATABASE");  // the first, any letter case
  EXPECT_EQ(FormField(f, "Statement"), "abc");
  EXPECT_EQ(FormField(f, "fehlt"), "");
  EXPECT_TRUE(ParseFormFields("").empty());
  EXPECT_EQ(ParseFormFields("a=%").at(0).second, "%");
  EXPECT_EQ(ParseFormFields("a=%4").at(0).second, "%4");
}

TEST(LegacyTest, SettingsInThePlatformsNotation) {
  struct Case {
    const char* date;
    char dateSep;
    const char* time;
    const char* dateFormat;
    const char* timeFormat;
  };
  const Case cases[] = {
      {"dd.MM.yyyy", '.', "hh:mm", "d.m.Y", "H:i"},
      {"M/d/yyyy", '/', "h:mm", "m/d/Y", "h:i"},
      {"yyyy/MM/dd", '-', "HH:mm", "Y-m-d", "H:i"},
      {"d.M.yy", '.', "hh:mm", "d.m.y", "H:i"},
      {"ddd dd.MM.yyyy", '.', "hh:mm", "d d.m.Y", "H:i"},
  };
  for (const auto& c : cases) {
    FormatSettings s = FormatSettings::German();
    s.ShortDateFormat = c.date;
    s.DateSeparator = c.dateSep;
    s.ShortTimeFormat = c.time;
    EXPECT_EQ(PlatformDateFormat(s), c.dateFormat) << c.date;
    EXPECT_EQ(PlatformTimeFormat(s), c.timeFormat) << c.time;
  }
  EXPECT_EQ(SettingsJson(FormatSettings::German()),
            "{\"dateformat\":\"d.m.Y\",\"timeformat\":\"H:i\",\"dateseparator\":\".\",\"timeseparator\":\":\","
            "\"currencystring\":\"\xE2\x82\xAC\"}");
}

TEST(LegacyTest, RtfBlobToTextGivesOneLinePerParagraph) {
  int calls = 0;
  TDatamod datamod([&calls](const std::string& rtf) {
    ++calls;
    return RtfToText(rtf);
  });
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"{\\rtf1\\ansi Hallo\\par Welt}", "Hallo\r\nWelt\r\n"},
      {"{\\rtf1\\ansi Gr\\'fc\\'dfe\\par}", "Gr\xC3\xBC\xC3\x9F" "e\r\n"},
      {"Gr\xFC\xDF" "e", "Gr\xC3\xBC\xC3\x9F" "e\r\n"},  // plain text in the system's code page
      {"a\nb\r\nc\r", "a\r\nb\r\nc\r\n"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(datamod.RtfBlobToText(c.bytes), c.text) << c.bytes;
  // Every conversion goes through the module's converter (and its lock).
  EXPECT_EQ(calls, 5);
}

TEST(LegacyTest, UpdateBlobErrorText) {
  EXPECT_EQ(UpdateBlobErrorText("exception 1\nE_X\nFehler ERR: 12 Kunde gesperrt"), " Kunde gesperrt");
  EXPECT_EQ(UpdateBlobErrorText("ERR:ab"), "");
  EXPECT_EQ(UpdateBlobErrorText("ERR:abc"), "");
  EXPECT_EQ(UpdateBlobErrorText("ERR:abcd"), "d");
  EXPECT_EQ(UpdateBlobErrorText("Table unknown"), "Table unknown");
}

}  // namespace
}  // namespace tarvo::server
