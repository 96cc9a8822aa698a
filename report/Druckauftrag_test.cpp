#include "report/Druckauftrag.h"

#include <gtest/gtest.h>

namespace tarvo::report {
namespace {

TEST(ScanArguments, AnyLetterCaseAndTheLastPoolCounts) {
  const struct {
    std::vector<std::string> args;
    bool web;
    int pool;
  } cases[] = {
      {{"--WEB", "--POOL=2"}, true, 2},
      {{"--web", "--pool=2"}, true, 2},
      {{"--WEB"}, true, 0},
      {{"--POOL=3", "--Web", "--pool=7"}, true, 7},
      {{"--POOL=4"}, false, 4},
      {{}, false, 0},
      {{"WEB", "--WEBX", "-POOL=1"}, false, 0},
  };
  for (const auto& c : cases) {
    Arguments a = ScanArguments(c.args);
    EXPECT_EQ(a.web, c.web);
    EXPECT_EQ(a.pool, c.pool);
  }
  for (const char* bad : {"--POOL=", "--POOL=x", "--POOL=1.5", "--POOL=99999999999"})
    EXPECT_THROW(ScanArguments({"--WEB", bad}), std::invalid_argument) << bad;
}

TEST(ParseIsoDateTime, OnlyTheFullPatternWithAValidDate) {
  EXPECT_EQ(ParseIsoDateTime("2024-02-29T10:15:00"), (DateTime{2024, 2, 29, 10, 15, 0, 0}));
  for (const char* text : {"2024-02-29", "2024-02-30T10:15:00", "2023-02-29T10:15:00", "2024-13-01T00:00:00",
                           "2024-02-29 10:15:00", "2024-02-29T25:00:00", "2024-AB-29T10:15:00",
                           " 2024-02-29T10:15:00", "2024-02-29T10:15:00Z"})
    EXPECT_FALSE(ParseIsoDateTime(text).has_value()) << text;
}

TEST(ParseJobFile, KeysTrimmedValuesAsTheyStandParametersInOrder) {
  const std::string text =
      " BEREICH =T-TOURISTIK\r\n"
      "ART=BESTAETIGUNG\r\n"
      "bereich=ignoriert\r\n"
      "NAME=web formular \r\n"
      "FORMAT=pdf\r\n"
      "PARAM__NR=200140\r\n"
      "PARAM_NR=200140\r\n"
      "PARAM_DATUM=2024-02-29T10:15:00\r\n"
      "PARAM_TAG=2024-02-29\r\n"
      "PARAM_FALSCH=2024-02-30T10:15:00\r\n"
      "PARAM_TEXT=  a=b  \r\n"
      "PARAM_NR=doppelt\r\n"
      "ohne Gleichheitszeichen\r\n"
      "\r\n"
      "ART=RECHNUNG\n";
  PrintJob job = ParseJobFile(text);
  EXPECT_EQ(job.area, "T-TOURISTIK");
  EXPECT_EQ(job.kind, "RECHNUNG");  // a later key overwrites
  EXPECT_EQ(job.name, "web formular ");
  EXPECT_EQ(job.format, "pdf");
  ASSERT_EQ(job.params.size(), 7u);
  const std::pair<const char*, Value> expected[] = {
      {"_NR", Value("200140")},
      {"NR", Value("200140")},
      {"DATUM", Value(DateTime{2024, 2, 29, 10, 15, 0, 0})},
      {"TAG", Value("2024-02-29")},
      {"FALSCH", Value("2024-02-30T10:15:00")},
      {"TEXT", Value("  a=b  ")},
      {"NR", Value("doppelt")},
  };
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(job.params[i].name, expected[i].first);
    EXPECT_EQ(job.params[i].value, expected[i].second) << i;
  }
}

TEST(DecodeTextFile, ByteOrderMarksSelectTheEncodingElseWindows1252) {
  EXPECT_EQ(DecodeTextFile("NAME=Gr\xF6\xDF" "e"), "NAME=Größe");
  EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBFNAME=Größe"), "NAME=Größe");
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFEN\0=\0\xE4\0", 8)), "N=ä");
  EXPECT_EQ(DecodeTextFile(std::string("\xFE\xFF\0N\0=\0\xE4", 8)), "N=ä");
}

}  // namespace
}  // namespace tarvo::report
