#include "server/WriteBody.h"

#include <gtest/gtest.h>

#include "server/WebWrite.h"

namespace tarvo::server {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

TEST(WriteBodyTest, BatchReadsEveryStatementsMemberInOrder) {
  const auto s = ReadExecuteBatchBody(
      R"({"x":{"statements":[1]},"statements":[{"params":{"A":"1","a":"2"},"sql":"S1"},{"sql":"S2"}],)"
      R"("y":[[]],"statements":[{"sql":"S3","z":{"sql":"nicht"},"params":{"B":null}}]})");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].Sql, "S1");
  EXPECT_EQ(s[0].Params, (Params{{"A", "1"}, {"a", "2"}}));
  EXPECT_EQ(s[1].Sql, "S2");
  EXPECT_TRUE(s[1].Params.empty());
  EXPECT_EQ(s[2].Sql, "S3");
  EXPECT_EQ(s[2].Params, (Params{{"B", ""}}));
  EXPECT_TRUE(ReadExecuteBatchBody(R"({"statements":[]})").empty());
  EXPECT_TRUE(ReadExecuteBatchBody(R"({})").empty());
}

TEST(WriteBodyTest, UnreadableBatchesAreBadRequests) {
  const char* cases[] = {
      "",
      "[]",
      R"({"statements":{}})",
      R"({"statements":[1]})",
      R"({"statements":[{"sql":["S"]}]})",
      R"({"statements":[{"sql":"S","params":{"A":"1","A":"2"}}]})",
      R"({"statements":[{"sql":"S","params":{"A":{}}}]})",
      R"({"statements":[{"sql":"S"}],"statements":[{"sql":"T"})",  // cut short
      R"({"statements":[{"sql":"S"}]} trailing)",
  };
  for (const char* c : cases) {
    if (std::string_view(c).find("trailing") != std::string_view::npos) {
      // Nothing after the root object is read.
      EXPECT_EQ(ReadExecuteBatchBody(c).size(), 1u);
      continue;
    }
    EXPECT_THROW(ReadExecuteBatchBody(c), EBadRequest) << c;
  }
}

TEST(WriteBodyTest, InvokeBodyUpperCasesNamesAndStopsAfterParams) {
  TRequestStatement s = ReadInvokeBody(R"({"method":"decrypt","params":{"value":"x","gr\u00fc\u00df":"y"},"method":1)");
  EXPECT_EQ(s.Sql, "decrypt");
  EXPECT_EQ(s.Params, (Params{{"VALUE", "x"}, {"GR\xC3\x9C\xC3\x9F", "y"}}));
  // "params" first: the method stays empty.
  s = ReadInvokeBody(R"({"params":{"Value":"x"},"method":"Encrypt"})");
  EXPECT_EQ(s.Sql, "");
  EXPECT_THROW(ReadInvokeBody(R"({"method":"Encrypt","params":{"Value":"x","VALUE":"y"}})"), EBadRequest);
  EXPECT_THROW(ReadInvokeBody(R"({"method":"Encrypt","params":{"\u00e4":"x","\u00c4":"y"}})"), EBadRequest);
  EXPECT_THROW(ReadInvokeBody(R"({"method":{"x":1}})"), EBadRequest);
  EXPECT_THROW(ReadInvokeBody("kein json"), EBadRequest);
}

TEST(WriteBodyTest, WriteBindingRule) {
  struct Case {
    const char* value;
    WriteBinding binding;
  };
  const Case cases[] = {
      {"2024-03-05T00:00:00", WriteBinding::DateTime},
      {"2024-02-29T23:59:59", WriteBinding::DateTime},
      {"2024-03-05T00:00:00Z", WriteBinding::Text},
      {"2024-03-05 00:00:00", WriteBinding::Text},
      {"2023-02-29T00:00:00", WriteBinding::Text},  // the shape, but no date
      {"2024-13-05T14:07:09", WriteBinding::Text},
      {"null", WriteBinding::Null},
      {"NULL", WriteBinding::Null},
      {"Null", WriteBinding::Text},
      {" null", WriteBinding::Text},
      {"", WriteBinding::Text},
  };
  for (const auto& c : cases) EXPECT_EQ(WriteBindingOf(c.value), c.binding) << c.value;
}

}  // namespace
}  // namespace tarvo::server
