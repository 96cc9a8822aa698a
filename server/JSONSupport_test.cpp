#include "server/JSONSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tarvo::server {
namespace {

std::string Json(std::string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

TEST(JsonWriterTest, EscapesExactlyTheProtocolSet) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\b", "\"a\\\\b\""},
      {"/", "\"/\""},
      {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
      {std::string("\0", 1), "\"\\u0000\""},
      {"\x01\x0B\x1F", "\"\\u0001\\u000B\\u001F\""},
      {"\x7F", "\"\x7F\""},
      {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F \xE2\x82\xAC", "\"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F \xE2\x82\xAC\""},
      {"\xC2\x85", "\"\\u0085\""},
      {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\""},
      {"\xE2\x80\xA7", "\"\xE2\x80\xA7\""},
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
      // Bytes that are no UTF-8 never reach the output as they are.
      {"a\xFF" "b", "\"a\xEF\xBF\xBD" "b\""},
      {"\xC3", "\"\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) EXPECT_EQ(Json(c.in), c.out) << c.in;
}

TEST(JsonWriterTest, WritesCompactNesting) {
  std::string out;
  TJsonWriter w(out);
  w.BeginObject();
  w.Key("data");
  w.BeginArray();
  w.BeginArray();
  w.EndArray();
  w.BeginObject();
  w.Member("a", "1");
  w.Member("b", "");
  w.EndObject();
  w.EndArray();
  w.Key("meta");
  w.BeginObject();
  w.EndObject();
  w.EndObject();
  EXPECT_EQ(out, R"({"data":[[],{"a":"1","b":""}],"meta":{}})");
}

using Params = std::vector<std::pair<std::string, std::string>>;

TEST(BodyReaderTest, ReadsSqlAndParamsInDocumentOrder) {
  struct Case {
    const char* body;
    const char* sql;
    Params params;
  };
  const Case cases[] = {
      {R"({"sql":"SELECT 1","params":{"NR":"5","Name":"x"}})", "SELECT 1", {{"NR", "5"}, {"Name", "x"}}},
      // "params" ends the reading: a later "sql" is not seen.
      {R"({"params":{"NR":"5"},"sql":"SELECT 1"})", "", {{"NR", "5"}}},
      // Nor is anything after it, however broken.
      {R"({"sql":"S","params":{}} trailing garbage)", "S", {}},
      {R"({"sql":"S","params":{},"x":[[[ )", "S", {}},
      // Other members are skipped, whatever they hold.
      {R"({"v":{"sql":"no","params":{"a":"b"}},"list":[1,[2,{"x":3}]],"sql":"S"})", "S", {}},
      // Names are compared with case.
      {R"({"SQL":"no","sql":"S","Params":{"a":"1"}})", "S", {}},
      // Non-string values are taken as text; names keep their case.
      {R"({"sql":"S","params":{"i":42,"f":1.50,"t":true,"n":null,"a":"A","A":"B"}})", "S",
       {{"i", "42"}, {"f", "1.50"}, {"t", "true"}, {"n", ""}, {"a", "A"}, {"A", "B"}}},
      {R"(  {"sql":"\u00e4\n\"x\""}  )", "\xC3\xA4\n\"x\"", {}},
  };
  for (const auto& c : cases) {
    const TRequestStatement s = ReadStatementBody(c.body);
    EXPECT_EQ(s.Sql, c.sql) << c.body;
    EXPECT_EQ(s.Params, c.params) << c.body;
  }
}

TEST(BodyReaderTest, RefusesWhatIsNoStatementBody) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string deepMember = R"({"x":)" + std::string(100000, '{') ;
  const std::string cases[] = {
      "",
      "   ",
      "null",
      "[1,2]",
      "\"sql\"",
      R"({"sql":"S")",
      R"({"sql":"S","params":{"a":"1","a":"2"}})",
      R"({"sql":"S","params":{"a":{"b":"c"}}})",
      R"({"sql":"S","params":{"a":[1]}})",
      R"({"sql":"S","params":"x"})",
      R"({"sql":{"a":1}})",
      R"({"sql":"S",})",
      R"({"sql":"a)" "\x01" R"("})",
      deep,
      deepMember,
  };
  for (const auto& body : cases) EXPECT_THROW(ReadStatementBody(body), EBadRequest) << body.substr(0, 40);
}

TEST(BodyReaderTest, DeepNestingInSkippedMembersIsRead) {
  // 100,000 levels inside a member the reader skips: no recursion, no limit.
  const std::string body =
      R"({"x":)" + std::string(100000, '[') + std::string(100000, ']') + R"(,"sql":"S"})";
  EXPECT_EQ(ReadStatementBody(body).Sql, "S");
}

TEST(BodyReaderTest, RandomBytesAreRefused) {
  std::mt19937 rng(7);
  std::string noise(20 << 20, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  EXPECT_THROW(ReadStatementBody(PayloadToText(noise)), EBadRequest);
  EXPECT_THROW(ReadBatchBody(PayloadToText(noise)), EBadRequest);
}

TEST(BodyReaderTest, PayloadTextDropsByteOrderMarkAndReplacesInvalidUtf8) {
  EXPECT_EQ(PayloadToText("\xEF\xBB\xBF{}"), "{}");
  EXPECT_EQ(PayloadToText("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  // Invalid bytes inside a string still give a readable body.
  EXPECT_EQ(ReadStatementBody(PayloadToText("{\"sql\":\"\xC3(\"}")).Sql, "\xEF\xBF\xBD(");
  EXPECT_THROW(ReadStatementBody(PayloadToText("\xFF\xFE{")), EBadRequest);
}

TEST(BodyReaderTest, BatchReadsEveryStatementInOrder) {
  const auto batch = ReadBatchBody(
      R"({"x":1,"statements":[{"params":{"a":"1"},"sql":"S1"},{"sql":"S2","other":[1,{}]},{}],"statements":"ignored"})");
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_EQ(batch[0].Sql, "S1");
  EXPECT_EQ(batch[0].Params, (Params{{"a", "1"}}));
  EXPECT_EQ(batch[1].Sql, "S2");
  EXPECT_TRUE(batch[1].Params.empty());
  EXPECT_EQ(batch[2].Sql, "");
  // The same name in two statements is no repetition.
  EXPECT_EQ(ReadBatchBody(R"({"statements":[{"params":{"a":"1"}},{"params":{"a":"2"}}]})").size(), 2u);
  EXPECT_TRUE(ReadBatchBody(R"({"other":1})").empty());

  const char* refused[] = {
      R"({"statements":{}})",
      R"({"statements":["S"]})",
      R"({"statements":[{"params":{"a":"1","a":"1"}}]})",
      R"({"statements":[{"sql":"S"})",
      "[]",
  };
  for (const char* body : refused) EXPECT_THROW(ReadBatchBody(body), EBadRequest) << body;
}

TEST(BodyReaderTest, RootMemberOfAnnouncement) {
  bool found = false;
  EXPECT_EQ(ReadRootMember("{\"x\":{\"url\":\"no\"},\"url\":\"https://a.example\"}\r\n", "url", &found),
            "https://a.example");
  EXPECT_TRUE(found);
  EXPECT_EQ(ReadRootMember(R"({"other":"x"})", "url", &found), "");
  EXPECT_FALSE(found);
  EXPECT_THROW(ReadRootMember("not json\r\n", "url"), EBadRequest);
  EXPECT_THROW(ReadRootMember("\"https://a.example\"", "url"), EBadRequest);
}

}  // namespace
}  // namespace tarvo::server
