// What the web module writes to the log for a request: ENTER/LEAVE lines,
// the statement trace with its id and warning mark, the lock brackets.
#include <gtest/gtest.h>

#include <Poco/Net/StreamSocket.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "tests/server/LoggingFixture.h"

namespace tarvo::testing_web {
namespace {

class LoggingDbTest : public LoggingWebServerTest {
 protected:
  void SetUp() override {
    WebServerTest::SetUp();
    StartLogging();
  }
  void TearDown() override {
    StopLogging();
    Konfiguration().SetWarnLevel(3);
    WebServerTest::TearDown();
  }
};

TEST_F(LoggingDbTest, StatementTraceCarriesIdParametersAndWarningMark) {
  Konfiguration().SetWarnLevel(1);
  EXPECT_FALSE(QueryJson("SELECT NR FROM T_WERTE WHERE NR = :NR", {{"NR", "1"}}).empty());
  EXPECT_FALSE(QueryJson("SELECT X FROM P_LANGSAM(3000000)").empty());
  const std::string log = LogWith(" | SQL finished: ", 2);

  const std::regex sql(R"((\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}) \| SQL: SELECT NR FROM T_WERTE WHERE NR = :NR\r\rNR=1\r)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, sql)) << log;
  const std::string id = m[1];
  EXPECT_NE(log.find(id + " | SQL finished: "), std::string::npos);

  // The mark follows the rule: " (Warning)" exactly from WARN-LEVEL seconds on.
  const std::regex finished(R"(\| SQL finished: (\d+) ms( \(Warning\))?\r\n)");
  int lines = 0;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), finished); it != std::sregex_iterator(); ++it) {
    const long ms = std::stol((*it)[1]);
    EXPECT_EQ((*it)[2].matched, ms >= 1000) << (*it)[0];
    ++lines;
  }
  EXPECT_GE(lines, 2);

  // The action's frame: ENTER, the close in its finally block, LEAVE.
  const size_t enter = log.find("DEBUG | ENTER: WebModulV2QueryHandlerAction");
  const size_t close = log.find("DEBUG | Close Database Connection", enter);
  const size_t leave = log.find("DEBUG | LEAVE: WebModulV2QueryHandlerAction", enter);
  ASSERT_NE(enter, std::string::npos);
  EXPECT_LT(log.find("DEBUG | Set Database Name [" + db_->Connection() + "]"), enter);
  EXPECT_LT(close, leave);
  EXPECT_NE(leave, std::string::npos);
}

TEST_F(LoggingDbTest, LocksAreBracketedByFourLinesWithOneId) {
  Konfiguration().SetWebplattformURL("https://vorher.example");
  const auto r = client_->PostEncrypted(
      "/v2/query", R"({"sql":"SELECT RTF__HINWEIS FROM T_WERTE WHERE NR = 1"})",
      {{"x-qx-platform", client_->EncryptHeader(R"({"url":"https://nachher.example"})")}});
  ASSERT_EQ(r.Status, 200);
  const std::string log = LogWith("Leave Rich Critical Section (Success): Parse RTF");
  for (const std::string what : {"Rich Critical Section (%s): Parse RTF", "Critical Section (%s): Neue Webplattform-URL"}) {
    auto line = [&](const char* step) {
      std::string w = what;
      w.replace(w.find("%s"), 2, step);
      return w;
    };
    const std::regex first("(\\{[0-9A-F-]{36}\\}) \\| Enter " + std::regex_replace(line("Request"), std::regex(R"([()])"), R"(\$&)"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, first)) << what;
    const std::string id = m[1];
    size_t at = 0;
    for (const std::string step : {"Enter " + line("Request"), "Enter " + line("Success"), "Leave " + line("Request"),
                                   "Leave " + line("Success")}) {
      const size_t p = log.find(id + " | " + step, at);
      EXPECT_NE(p, std::string::npos) << step;
      at = p;
    }
  }
  EXPECT_NE(log.find("Webplattform-URL: neu=[https://nachher.example], alt=["), std::string::npos);
}

TEST_F(LoggingDbTest, BadRequestIsLoggedAsError) {
  const auto r = client_->PostEncrypted("/v2/query", "kein JSON");
  ASSERT_EQ(r.Status, 500);
  const std::string log = LogWith("ERROR | Bad Request");
  EXPECT_NE(log.find("ERROR | Bad Request: Datenformat oder Sicherheitsschl\xC3\xBCssel ung\xC3\xBCltig\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("DEBUG | LEAVE: WebModuleException"), std::string::npos);
}

TEST_F(LoggingDbTest, ConnectionErrorsAreLoggedAndServingGoesOn) {
  {
    // The body ends before its announced length.
    Poco::Net::StreamSocket s(Poco::Net::SocketAddress("127.0.0.1", server_->Port()));
    const std::string text = "POST /v2/query HTTP/1.1\r\nContent-Length: 100\r\n\r\nkurz";
    s.sendBytes(text.data(), int(text.size()));
    s.shutdownSend();
    char buf[256];
    try {
      while (s.receiveBytes(buf, sizeof buf) > 0) {
      }
    } catch (const Poco::Exception&) {
    }
  }
  const std::string log = LogWith("ERROR | HTTP-Server-Exception: ");
  EXPECT_NE(log.find("ERROR | HTTP-Server-Exception: "), std::string::npos);
  EXPECT_FALSE(QueryJson("SELECT 1 AS A FROM RDB$DATABASE").empty());
}

}  // namespace
}  // namespace tarvo::testing_web
