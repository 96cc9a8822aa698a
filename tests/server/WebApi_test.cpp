// The HTTP API over loopback against a real database.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <random>
#include <thread>

#include "common/Codepage.h"
#include "common/Konfiguration.h"
#include "server/Envelope.h"
#include "server/Web.h"
#include "tests/server/E2EFixture.h"

namespace tarvo::testing_web {
namespace {

using server::TClientResponse;
using server::TRequestStatement;

const std::string kBadRequestBody = server::kBadRequestText;

class WebApiDbTest : public WebServerTest {};

TEST_F(WebApiDbTest, QueryWritesEveryColumnAsString) {
  const std::string json = QueryJson(
      "SELECT NR, GANZ, KLEIN, FLIESS, BETRAG, ZEIT, TEXT, RTF__HINWEIS, NOTIZ FROM T_WERTE WHERE NR < 3 ORDER BY NR");
  const TKonfiguration& k = Konfiguration();
  const std::string expected =
      R"({"data":[)"
      R"({"nr":"1","ganz":"42","klein":"-7","fliess":"1234.50","betrag":"12.34","zeit":"2024-03-05T14:07:09",)"
      "\"text\":\"Gr\xC3\xBC\xC3\x9F" R"(e \"x\" \\ /","rtf__hinweis":"Hallo)";
  // The converter may or may not end the last paragraph with CR LF.
  ASSERT_EQ(json.substr(0, expected.size()), expected) << json;
  const std::string rest = json.substr(expected.size());
  const std::string row2 =
      R"({"nr":"2","ganz":"","klein":"","fliess":"0.00","betrag":"0.00","zeit":"","text":"","rtf__hinweis":"","notiz":""}],)";
  const std::string meta = R"("meta":{"version":")" + k.GetAppVersion() + R"(","datenbankpfad":")" +
                           k.Datenbankpfad.get() + R"(","betriebssystem":")" + k.GetBetriebssystem() + "\"}}";
  EXPECT_TRUE(rest == "\",\"notiz\":\"\"}," + row2 + meta || rest == "\\r\\n\",\"notiz\":\"\"}," + row2 + meta)
      << rest;
}

TEST_F(WebApiDbTest, ZeroDateAndEmptyResult) {
  EXPECT_EQ(QueryJson("SELECT ZEIT FROM T_WERTE WHERE NR = 3").substr(0, 22), R"({"data":[{"zeit":""}],)");
  EXPECT_EQ(QueryJson("SELECT NR FROM T_WERTE WHERE NR = 99").substr(0, 19), R"({"data":[],"meta":{)");
}

TEST_F(WebApiDbTest, ParametersBindIsoDateTimesAsDateTimesAndTheRestAsText) {
  struct Case {
    const char* sql;
    std::vector<std::pair<std::string, std::string>> params;
    const char* data;
  };
  const Case cases[] = {
      {"SELECT NR FROM T_WERTE WHERE ZEIT >= :Z AND ZEIT < :Y", {{"Z", "2024-03-05T14:07:09"}, {"Y", "2024-03-05T14:07:10"}},
       R"([{"nr":"1"}])"},
      // ISO-shaped but no date: bound as text.
      {"SELECT NR FROM T_WERTE WHERE TEXT = :T", {{"T", "2024-13-05T14:07:09"}}, R"([{"nr":"3"}])"},
      {"SELECT NR FROM T_WERTE WHERE NR = :nr OR NR = :NR2", {{"nr", "2"}, {"NR2", "3"}}, R"([{"nr":"2"},{"nr":"3"}])"},
  };
  for (const auto& c : cases) {
    const std::string json = QueryJson(std::string(c.sql) + " ORDER BY NR", c.params);
    EXPECT_EQ(json.substr(8, std::string(c.data).size()), c.data) << c.sql << "\n" << json;
  }
}

TEST_F(WebApiDbTest, PathsIgnoreCaseMethodsDoNot) {
  TClientResponse r = client_->PostEncrypted("/V2/QUERY", R"({"sql":"SELECT 1 AS A FROM RDB$DATABASE"})");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(client_->Decrypt(r.Body).substr(0, 20), R"({"data":[{"a":"1"}],)");
  r = client_->Send("GET", "/v2/query", "");
  EXPECT_EQ(r.Status, 404);
  r = client_->PostEncrypted("/v2/query/", R"({"sql":"SELECT 1 FROM RDB$DATABASE"})");
  EXPECT_EQ(r.Status, 404);
}

TEST_F(WebApiDbTest, CredentialsAreRequiredEverywhereButTheStatusPage) {
  struct Case {
    const char* method;
    const char* path;
  };
  const Case guarded[] = {{"POST", "/v2/query"}, {"GET", "/v2/query"}, {"POST", "/v2/unknown"},
                          {"GET", "/execute"},   {"POST", "/settings"}, {"PUT", "/updateblob"},
                          {"POST", "/"},         {"GET", "/favicon.ico"}};
  const server::THeaders wrong[] = {
      {},
      {{"Authorization", "Basic"}},
      {{"Authorization", "Basic " + server::envelope::Base64EncodeMime("ohneDoppelpunkt")}},
      {{"Authorization", "Basic " + server::envelope::Base64EncodeMime(std::string(kTestKey) + ":falsch")}},
      {{"Authorization", "Basic " + server::envelope::Base64EncodeMime("falsch:" + std::string(kTestKey))}},
  };
  for (const auto& g : guarded) {
    for (const auto& h : wrong) {
      const TClientResponse r = client_->Send(g.method, g.path, "x", h, false);
      EXPECT_EQ(r.Status, 401) << g.method << " " << g.path;
      EXPECT_EQ(r.Reason, "Transaction-ID nicht korrekt");
      EXPECT_EQ(r.Body, "Transaction-ID nicht korrekt");
    }
  }
  // The scheme word is not looked at.
  const TClientResponse r = client_->Send(
      "POST", "/v2/query",
      server::envelope::EncryptToBase64(kTestKey, R"({"sql":"SELECT 1 FROM RDB$DATABASE"})"),
      {{"Authorization", "Whatever " + server::envelope::Base64EncodeMime(std::string(kTestKey) + ":" + kTestKey)}},
      false);
  EXPECT_EQ(r.Status, 200);
  // GET "/" passes without credentials (no status page here yet: 404).
  EXPECT_EQ(client_->Send("GET", "/", "", {}, false).Status, 404);
}

TEST_F(WebApiDbTest, UnreadableBodiesAreBadRequests) {
  std::mt19937 rng(11);
  std::string noise(20 << 20, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  const std::string good = server::envelope::EncryptToBase64(kTestKey, R"({"sql":"SELECT 1 FROM RDB$DATABASE"})");
  const std::string deep = "{\"x\":" + std::string(100000, '[');
  const std::string cases[] = {
      "",
      "dies ist kein base64 !!!",
      good.substr(0, good.size() / 2),
      server::envelope::EncryptToBase64("anderer Schluessel", R"({"sql":"SELECT 1 FROM RDB$DATABASE"})"),
      server::envelope::EncryptToBase64(kTestKey, "{\"sql\":\"SELECT 1 FROM RDB$DATABASE\"\xFF\xFE"),
      server::envelope::EncryptToBase64(kTestKey, deep),
      server::envelope::EncryptToBase64(kTestKey, R"({"sql":"S","params":{"A":"1","A":"2"}})"),
      server::envelope::EncryptToBase64(kTestKey, noise),
      noise,
  };
  for (const auto& body : cases) {
    const TClientResponse r = client_->Send("POST", "/v2/query", body);
    EXPECT_EQ(r.Status, 500) << body.substr(0, 30);
    EXPECT_EQ(r.ContentType, "text/plain; charset=utf-8");
    EXPECT_EQ(r.Body, kBadRequestBody);
  }
  // The server is still fine.
  EXPECT_EQ(client_->Send("POST", "/v2/query", good).Status, 200);
}

TEST_F(WebApiDbTest, ErrorsAnswer950Or951Encrypted) {
  struct Case {
    std::string body;
    int status;
    std::string text;  // expected text, or a part of it for 950
  };
  const Case cases[] = {
      {R"({"sql":"SELECT * FROM P_GESPERRT"})", 951, "Kunde gesperrt"},
      {R"({"sql":"SELECT * FROM GIBT_ES_NICHT"})", 950, "GIBT_ES_NICHT"},
      // "params" first: the statement stays empty.
      {R"({"params":{"NR":"1"},"sql":"SELECT NR FROM T_WERTE WHERE NR = :NR"})", 950, ""},
      // A parameter the statement lacks.
      {R"({"sql":"SELECT NR FROM T_WERTE","params":{"NR":"1"}})", 950, "NR"},
  };
  for (const auto& c : cases) {
    const TClientResponse r = client_->PostEncrypted("/v2/query", c.body);
    EXPECT_EQ(r.Status, c.status) << c.body;
    EXPECT_EQ(r.ContentType, "application/octet-stream");
    const std::string text = client_->Decrypt(r.Body);
    if (c.status == 951)
      // Firebird appends the procedure's position on a line of its own.
      EXPECT_EQ(text.substr(0, c.text.size() + 1), c.text + "\n") << text;
    else
      EXPECT_NE(text.find(c.text), std::string::npos) << text;
    EXPECT_FALSE(text.empty());
  }
}

TEST_F(WebApiDbTest, NextRequestAfterAFailureUsesTheCurrentDatabasePath) {
  TKonfiguration& k = Konfiguration();
  k.Datenbankpfad = "localhost/3050:/var/lib/firebird/3.0/data/tarvo/gibt_es_nicht.fdb";
  TClientResponse r = client_->PostEncrypted("/v2/query", R"({"sql":"SELECT 1 FROM RDB$DATABASE"})");
  EXPECT_EQ(r.Status, 950);
  k.Datenbankpfad = db_->Connection();
  for (int i = 0; i < 3; ++i) {
    r = client_->PostEncrypted("/v2/query", R"({"sql":"SELECT * FROM P_GESPERRT"})");
    EXPECT_EQ(r.Status, 951);
    r = client_->PostEncrypted("/v2/query", R"({"sql":"SELECT 1 AS A FROM RDB$DATABASE"})");
    EXPECT_EQ(r.Status, 200);
  }
}

TEST_F(WebApiDbTest, QueryBatchAnswersOneListPerStatement) {
  TClientResponse r = client_->PostEncrypted(
      "/v2/querybatch", server::TTarvoClient::BatchBody({{"SELECT NR FROM T_WERTE WHERE NR = :NR", {{"NR", "1"}}},
                                                         {"SELECT NR FROM T_WERTE WHERE NR = 99", {}},
                                                         {"SELECT NR FROM T_WERTE WHERE NR >= :NR ORDER BY NR", {{"NR", "2"}}}}));
  ASSERT_EQ(r.Status, 200);
  const TKonfiguration& k = Konfiguration();
  EXPECT_EQ(client_->Decrypt(r.Body), R"({"data":[[{"nr":"1"}],[],[{"nr":"2"},{"nr":"3"}]],"meta":{"version":")" +
                                          k.GetAppVersion() + R"(","datenbankpfad":")" + k.Datenbankpfad.get() +
                                          "\"}}");
  // A failing statement fails the whole batch.
  r = client_->PostEncrypted("/v2/querybatch",
                             server::TTarvoClient::BatchBody({{"SELECT NR FROM T_WERTE", {}},
                                                              {"SELECT * FROM P_GESPERRT", {}},
                                                              {"SELECT * FROM GIBT_ES_NICHT", {}}}));
  EXPECT_EQ(r.Status, 951);
  EXPECT_EQ(client_->Decrypt(r.Body).substr(0, 15), "Kunde gesperrt\n");
}

TEST_F(WebApiDbTest, StreamAndPlainStreamGiveTheBlobBytes) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  std::string hex;
  for (unsigned char c : bytes) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", c);
    hex += b;
  }
  db_->Execute("INSERT INTO T_WERTE (NR, DATEN, NOTIZ) VALUES (10, x'" + hex + "', 'Notiz')");

  // In a JSON row, raw bytes read as Windows-1252 text; a text blob as text.
  {
    const auto row = nlohmann::json::parse(QueryJson("SELECT DATEN, NOTIZ FROM T_WERTE WHERE NR = 10"));
    EXPECT_EQ(row["data"][0]["daten"].get<std::string>(), Cp1252ToUtf8(bytes));
    EXPECT_EQ(row["data"][0]["notiz"].get<std::string>(), "Notiz");
  }

  TClientResponse r = Query("/v2/stream", {"SELECT DATEN FROM T_WERTE WHERE NR = :NR", {{"NR", "10"}}});
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "application/octet-stream");
  EXPECT_EQ(client_->Decrypt(r.Body), bytes);
  // All columns of the first row, in order.
  r = Query("/v2/stream", {"SELECT NOTIZ, DATEN FROM T_WERTE WHERE NR = 10", {}});
  EXPECT_EQ(client_->Decrypt(r.Body), "Notiz" + bytes);
  r = Query("/v2/stream", {"SELECT DATEN FROM T_WERTE WHERE NR = 99", {}});
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "");

  // Plain: not encrypted, the last column.
  r = Query("/v2/plainstream", {"SELECT NOTIZ, DATEN FROM T_WERTE WHERE NR = :NR", {{"NR", "10"}}});
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "application/octet-stream");
  EXPECT_EQ(r.Body, bytes);
  r = Query("/v2/plainstream", {"SELECT DATEN FROM T_WERTE WHERE NR = 99", {}});
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "");
  // Once the body is sent, nothing stays attached.
  r = Query("/v2/plainstream", {"SELECT DATEN FROM T_WERTE WHERE NR = 10", {}});
  EXPECT_EQ(r.Body, bytes);
  int left = RequestAttachments();
  for (int i = 0; i < 20 && left != 0; ++i) {  // the server releases it right after sending
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    left = RequestAttachments();
  }
  EXPECT_EQ(left, 0);
  EXPECT_EQ(Query("/v2/query", {"SELECT NR FROM T_WERTE WHERE NR = 10", {}}).Status, 200);
  db_->Execute("DELETE FROM T_WERTE WHERE NR = 10");
}

TEST_F(WebApiDbTest, AnnouncementHeaderReplacesThePlatformAddress) {
  TKonfiguration& k = Konfiguration();
  k.SetWebplattformURL("https://alt.example");
  const std::string body = R"({"sql":"SELECT 1 FROM RDB$DATABASE"})";
  auto announce = [&](const std::string& json) {
    return client_->PostEncrypted("/v2/query", body, {{"x-qx-platform", client_->EncryptHeader(json)}});
  };
  EXPECT_EQ(announce(R"({"url":"https://neu.example"})").Status, 200);
  EXPECT_FALSE(k.MatchesWebplattformURL("https://alt.example"));
  // The change was saved; later requests that change nothing write no file.
  ASSERT_TRUE(std::filesystem::exists(k.FileName()));
  std::filesystem::remove(k.FileName());
  for (const char* same : {R"({"url":"https://neu.example/"})", R"({"url":"http://neu.example"})"}) {
    EXPECT_EQ(announce(same).Status, 200);
    EXPECT_FALSE(std::filesystem::exists(k.FileName())) << same;
  }
  EXPECT_TRUE(k.MatchesWebplattformURL("https://neu.example")) << k.FWebplattformURL.get();
  k.DevMode = true;
  EXPECT_EQ(announce(R"({"url":"https://dev.example"})").Status, 200);
  EXPECT_TRUE(k.MatchesWebplattformURL("https://neu.example")) << k.FWebplattformURL.get();
  k.DevMode = false;
  EXPECT_EQ(announce(R"({"other":"x"})").Status, 200);
  EXPECT_TRUE(k.MatchesWebplattformURL("https://neu.example")) << k.FWebplattformURL.get();

  const TClientResponse r = announce("keine JSON-Angabe");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, kBadRequestBody);
  EXPECT_TRUE(k.MatchesWebplattformURL("https://neu.example")) << k.FWebplattformURL.get();
}

TEST_F(WebApiDbTest, ConnectionsAreCountedAndRefreshesPosted) {
  // The context of this suite runs in session-0 mode: no refresh posted.
  std::atomic<int> posts{0};
  context_->PostRefreshUI = [&] { posts++; };
  EXPECT_EQ(QueryJson("SELECT 1 AS A FROM RDB$DATABASE").substr(0, 9), R"({"data":[)");
  EXPECT_EQ(posts.load(), 0);
  context_->Session0 = false;
  EXPECT_EQ(QueryJson("SELECT 1 AS A FROM RDB$DATABASE").substr(0, 9), R"({"data":[)");
  for (int i = 0; i < 100 && context_->OpenConnections.load() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(context_->OpenConnections.load(), 0);
  EXPECT_GE(posts.load(), 2);  // accepted and closed
  context_->Session0 = true;
  context_->PostRefreshUI = nullptr;
}

}  // namespace
}  // namespace tarvo::testing_web
