#include "server/Web.h"

#include <gtest/gtest.h>

#include "common/Konfiguration.h"
#include "server/Envelope.h"

namespace tarvo::server {
namespace {

TEST(WebModulTest, ErrorAnswerExtractsTheUserText) {
  struct Case {
    std::string message;
    int status;
    std::string text;
  };
  const Case cases[] = {
      {"exception 1\nE_X\nFehler ERR: Kunde gesperrt", 951, "Kunde gesperrt"},
      {"Fehler ERR:Kunde gesperrt", 951, "gesperrt"},
      {"Fehler ERR:XY", 951, "ERR:XY"},
      {"a ERR:  x  y  ", 951, "x  y"},
      {"ERR: erst ERR: zweit", 951, "erst ERR: zweit"},
      {"Table unknown\nGIBT_ES_NICHT", 950, "Table unknown\nGIBT_ES_NICHT"},
      {"err: klein", 950, "err: klein"},
      {"", 950, ""},
  };
  for (const auto& c : cases) {
    const auto [status, text] = TWebModul::ErrorAnswer(c.message);
    EXPECT_EQ(status, c.status) << c.message;
    EXPECT_EQ(text, c.text) << c.message;
  }
}

TEST(WebModulTest, CheckTransactionIdTakesKeyAsUserAndPassword) {
  Konfiguration().Sicherheitsschluessel = "ge:heim";
  auto basic = [](const std::string& pair) { return envelope::Base64EncodeMime(pair); };
  struct Case {
    std::string header;
    bool ok;
  };
  const Case cases[] = {
      {"Basic " + basic("ge:heim:ge:heim"), false},  // the user name ends at the first colon
      {"", false},
      {"Basic", false},
      {"Basic " + basic("ge"), false},
      {"Basic " + basic("GE:heim:GE:heim"), false},
  };
  for (const auto& c : cases) {
    TWebRequest r;
    if (!c.header.empty()) r.Headers.emplace_back("Authorization", c.header);
    EXPECT_EQ(TWebModul::CheckTransactionId(r), c.ok) << c.header;
  }
  Konfiguration().Sicherheitsschluessel = "geheim";
  const Case plain[] = {
      {"Basic " + basic("geheim:geheim"), true},
      {"Anything " + basic("geheim:geheim"), true},
      {"Basic " + basic("geheim:Geheim"), false},
      {"Basic " + basic("geheim:geheim:"), false},
      {"Basic " + basic(":"), false},
  };
  for (const auto& c : plain) {
    TWebRequest r;
    r.Headers.emplace_back("authorization", c.header);
    EXPECT_EQ(TWebModul::CheckTransactionId(r), c.ok) << c.header;
  }
  // An empty key admits empty credentials.
  Konfiguration().Sicherheitsschluessel = "";
  TWebRequest r;
  r.Headers.emplace_back("Authorization", "Basic " + basic(":"));
  EXPECT_TRUE(TWebModul::CheckTransactionId(r));
}

TEST(WebModulTest, ActionTableMatchesMethodAndWholePathWithoutCase) {
  struct Case {
    const char* method;
    const char* path;
    const char* action;  // nullptr: none
  };
  const Case cases[] = {
      {"POST", "/v2/query", "V2QueryHandler"},
      {"POST", "/V2/QUERY", "V2QueryHandler"},
      {"GET", "/v2/query", nullptr},
      {"POST", "/v2/query/", nullptr},
      {"POST", "/v2/queryx", nullptr},
      {"POST", "/v2/querybatch", "V2QueryBatchHandler"},
      {"POST", "/v2/Stream", "V2StreamHandler"},
      {"POST", "/v2/plainstream", "V2PlainStreamHandler"},
      {"post", "/v2/query", nullptr},
  };
  for (const auto& c : cases) {
    const auto* a = TWebModul::FindAction(c.method, c.path);
    if (c.action) {
      ASSERT_NE(a, nullptr) << c.method << " " << c.path;
      EXPECT_STREQ(a->Name, c.action);
    } else {
      EXPECT_EQ(a, nullptr) << c.method << " " << c.path;
    }
  }
  EXPECT_FALSE(TWebModul::NeedsCredentials("GET", "/"));
  EXPECT_TRUE(TWebModul::NeedsCredentials("HEAD", "/"));
  EXPECT_TRUE(TWebModul::NeedsCredentials("GET", "/v2/"));
  EXPECT_TRUE(TWebModul::NeedsCredentials("GET", "/execute"));
}

}  // namespace
}  // namespace tarvo::server
