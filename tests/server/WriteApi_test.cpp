// The write actions, invoke, reconfiguration and the legacy endpoints over
// loopback against a real database.
#include <gtest/gtest.h>

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "common/FormatSettings.h"
#include "common/Konfiguration.h"
#include "server/DataModul.h"
#include "server/Envelope.h"
#include "server/Token.h"
#include "server/Web.h"
#include "tests/server/E2EFixture.h"

namespace tarvo::testing_web {
namespace {

using server::TClientResponse;
using server::TRequestStatement;
using server::TTarvoClient;
using Params = std::vector<std::pair<std::string, std::string>>;

const char* const kWriteSchema[] = {
    "CREATE TABLE T_SCHREIB (NR INTEGER NOT NULL PRIMARY KEY, TEXT VARCHAR(200), ZEIT TIMESTAMP, "
    "DATEN BLOB SUB_TYPE 0, NOTIZ BLOB SUB_TYPE 1)",
    "CREATE EXCEPTION E_SCHREIB 'Schreiben verboten ERR: 12 Kunde gesperrt'",
    "CREATE TRIGGER T_SCHREIB_BI FOR T_SCHREIB BEFORE INSERT OR UPDATE AS BEGIN "
    "IF (NEW.NR = 666 OR NEW.TEXT = 'VERBOTEN') THEN EXCEPTION E_SCHREIB; END",
    "CREATE PROCEDURE P_WARTEN (N INTEGER) AS DECLARE VARIABLE I INTEGER; BEGIN I = 0; "
    "WHILE (I < N) DO I = I + 1; END",
    // Runs until T_SIGNAL has a row (committed by someone else), at most N rounds.
    "CREATE TABLE T_SIGNAL (NR INTEGER)",
    "CREATE PROCEDURE P_WARTEN_AUF_SIGNAL (N INTEGER) AS DECLARE VARIABLE I INTEGER; BEGIN I = 0; "
    "WHILE (I < N AND NOT EXISTS (SELECT 1 FROM T_SIGNAL)) DO I = I + 1; END",
    "INSERT INTO T_SCHREIB (NR, TEXT) VALUES (1, 'eins')",
    "INSERT INTO T_SCHREIB (NR, TEXT) VALUES (2, 'a/b')",
};

const std::string kEmptyData = R"({"data":[]})";

class WriteApiDbTest : public WebServerTest {
 protected:
  static void SetUpTestSuite() {
    WebServerTest::SetUpTestSuite();
    for (const char* statement : kWriteSchema) db_->Execute(statement);
  }

  TClientResponse Execute(const std::string& sql, const Params& params = {}) {
    return client_->PostEncrypted("/v2/execute", TTarvoClient::StatementBody({sql, params}));
  }
  TClientResponse Batch(const std::vector<TRequestStatement>& statements) {
    return client_->PostEncrypted("/v2/executebatch", TTarvoClient::BatchBody(statements));
  }
  TClientResponse Stream(const std::string& sql, const Params& params, const std::string& bytes) {
    return client_->Send("POST", "/v2/executestream", server::envelope::EncryptToBase64(kTestKey, bytes),
                         {{"x-qx-command", client_->EncryptHeader(TTarvoClient::StatementBody({sql, params}))}});
  }
  // The decrypted answer, which must be exactly {"data":[]}.
  void ExpectEmptyData(const TClientResponse& r) {
    EXPECT_EQ(r.Status, 200) << client_->Decrypt(r.Body) << r.Body;
    EXPECT_EQ(r.ContentType, "application/octet-stream");
    EXPECT_EQ(client_->Decrypt(r.Body), kEmptyData);
  }
  // "data" of a query.
  std::string Rows(const std::string& sql) {
    const std::string json = QueryJson(sql);
    const size_t meta = json.rfind(",\"meta\":");
    return json.substr(8, meta - 8);
  }
  int Count(const std::string& where) {
    const std::string rows = Rows("SELECT COUNT(*) AS N FROM T_SCHREIB WHERE " + where);
    return std::atoi(rows.c_str() + 7);
  }
  void TearDown() override {
    db_->Execute("DELETE FROM T_SCHREIB WHERE NR > 2");
    db_->Execute("DELETE FROM T_SIGNAL");
    db_->Execute("UPDATE T_SCHREIB SET TEXT = 'eins', ZEIT = NULL, DATEN = NULL, NOTIZ = NULL WHERE NR = 1");
    WebServerTest::TearDown();
  }
};

TEST_F(WriteApiDbTest, ExecuteBindsNullDateTimeAndTextAndCommits) {
  struct Case {
    const char* value;
    const char* stored;  // TEXT column, or ZEIT for dates
  };
  ExpectEmptyData(Execute("INSERT INTO T_SCHREIB (NR, TEXT, ZEIT) VALUES (:NR, :T, :Z)",
                          {{"NR", "10"}, {"T", "null"}, {"Z", "2024-03-05T00:00:00"}}));
  ExpectEmptyData(Execute("INSERT INTO T_SCHREIB (NR, TEXT, ZEIT) VALUES (:NR, :T, :Z)",
                          {{"NR", "11"}, {"T", "Null"}, {"Z", "NULL"}}));
  ExpectEmptyData(Execute("INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, :T)", {{"NR", "12"}, {"T", ""}}));
  ExpectEmptyData(Execute("INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, :T)",
                          {{"NR", "13"}, {"T", "2024-03-05T00:00:00Z"}}));
  ExpectEmptyData(Execute("INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, :T)",
                          {{"NR", "14"}, {"T", "2024-03-05T14:07:09"}}));
  EXPECT_EQ(Rows("SELECT NR, TEXT, ZEIT, CASE WHEN TEXT IS NULL THEN 'NULL' ELSE 'TEXT' END AS K FROM T_SCHREIB "
                 "WHERE NR >= 10 ORDER BY NR"),
            R"([{"nr":"10","text":"","zeit":"2024-03-05T00:00:00","k":"NULL"},)"
            R"({"nr":"11","text":"Null","zeit":"","k":"TEXT"},)"
            R"({"nr":"12","text":"","zeit":"","k":"TEXT"},)"
            R"({"nr":"13","text":"2024-03-05T00:00:00Z","zeit":"","k":"TEXT"},)"
            // A date-time into a text column: the database's own text form.
            R"({"nr":"14","text":"05-MAR-2024 14:07:09.0000","zeit":"","k":"TEXT"}])");
  // The row is committed: another connection sees it.
  db::TIBRDATABASE other;
  other.SetDatabaseName(db_->Connection());
  other.Open();
  db::TIBRQuery q(other);
  q.SetSQL("SELECT COUNT(*) FROM T_SCHREIB WHERE NR >= 10");
  q.Open();
  EXPECT_EQ(q.AsInteger(0), 5);
}

TEST_F(WriteApiDbTest, FailedExecutesChangeNothing) {
  struct Case {
    std::string sql;
    Params params;
    int status;
    std::string text;  // start of the decrypted answer, or a part for 950
  };
  const Case cases[] = {
      {"INSERT INTO T_SCHREIB (NR, TEXT) VALUES (1, 'doppelt')", {}, 950, "PRIMARY"},
      {"INSERT INTO T_SCHREIB (NR) VALUES (666)", {}, 951, "12 Kunde gesperrt"},
      {"UPDATE T_SCHREIB SET TEXT = :T WHERE NR = 1", {{"T", "neu"}, {"FEHLT", "x"}}, 950, "FEHLT"},
      {"UPDATE GIBT_ES_NICHT SET X = 1", {}, 950, "GIBT_ES_NICHT"},
      {"", {}, 950, ""},
  };
  for (const auto& c : cases) {
    const TClientResponse r = Execute(c.sql, c.params);
    EXPECT_EQ(r.Status, c.status) << c.sql;
    const std::string text = client_->Decrypt(r.Body);
    if (c.status == 951)
      EXPECT_EQ(text.substr(0, c.text.size()), c.text) << text;
    else
      EXPECT_NE(text.find(c.text), std::string::npos) << text;
  }
  EXPECT_EQ(Rows("SELECT NR, TEXT FROM T_SCHREIB ORDER BY NR"), R"([{"nr":"1","text":"eins"},{"nr":"2","text":"a/b"}])");
  // Unreadable bodies: Bad Request, nothing runs.
  const TClientResponse r =
      client_->PostEncrypted("/v2/execute", R"({"sql":"DELETE FROM T_SCHREIB","params":{"A":"1","A":"2"}})");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, server::kBadRequestText);
  EXPECT_EQ(Count("1 = 1"), 2);
}

TEST_F(WriteApiDbTest, BatchIsOneUnit) {
  // All or nothing: the third insert fails, the first two are undone.
  TClientResponse r = Batch({{"INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, 'a')", {{"NR", "20"}}},
                             {"UPDATE T_SCHREIB SET TEXT = 'geändert' WHERE NR = 1", {}},
                             {"INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, 'c')", {{"NR", "666"}}},
                             {"INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, 'd')", {{"NR", "21"}}}});
  EXPECT_EQ(r.Status, 951);
  EXPECT_EQ(Count("NR >= 20"), 0);
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 1"), R"([{"text":"eins"}])");

  ExpectEmptyData(Batch({}));
  // Statements of a second "statements" member follow those of the first.
  r = client_->PostEncrypted(
      "/v2/executebatch",
      R"j({"statements":[{"sql":"INSERT INTO T_SCHREIB (NR, TEXT) VALUES (30, 'x')"}],"andere":1,)j"
      R"j("statements":[{"params":{"T":"y"},"sql":"UPDATE T_SCHREIB SET TEXT = TEXT || :T WHERE NR = 30"}]})j");
  ExpectEmptyData(r);
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 30"), R"([{"text":"xy"}])");
  // Only "/v2/execute" knows commands: in a batch they go to the database.
  r = Batch({{"INSERT INTO T_SCHREIB (NR) VALUES (31)", {}}, {"TARVOSERVER:INI:EVENTS-NAMES=X", {}}});
  EXPECT_EQ(r.Status, 950);
  EXPECT_EQ(Count("NR = 31"), 0);
  EXPECT_NE(Konfiguration().EventsNames.get(), "X");
}

TEST_F(WriteApiDbTest, BatchOfAThousandWithStatement500FailingLeavesNone) {
  std::vector<TRequestStatement> statements;
  for (int i = 1; i <= 1000; ++i)
    statements.push_back({"INSERT INTO T_SCHREIB (NR, TEXT) VALUES (:NR, :T)",
                          {{"NR", std::to_string(i == 500 ? 1 : 1000 + i)}, {"T", "Zeile " + std::to_string(i)}}});
  TClientResponse r = Batch(statements);
  EXPECT_EQ(r.Status, 950);
  EXPECT_NE(client_->Decrypt(r.Body).find("PRIMARY"), std::string::npos);
  EXPECT_EQ(Count("NR > 1000"), 0);
  statements[499].Params[0].second = "1500";
  ExpectEmptyData(Batch(statements));
  EXPECT_EQ(Count("NR > 1000"), 1000);
}

TEST_F(WriteApiDbTest, BatchWhoseClientDisconnectsLeavesNone) {
  std::vector<TRequestStatement> statements;
  statements.push_back({"UPDATE T_SCHREIB SET TEXT = 'Batch' WHERE NR = 1", {}});
  for (int i = 1; i <= 1000; ++i)
    statements.push_back({"INSERT INTO T_SCHREIB (NR) VALUES (:NR)", {{"NR", std::to_string(2000 + i)}}});
  statements.push_back({"EXECUTE PROCEDURE P_WARTEN(300000)", {}});
  const std::string body = server::envelope::EncryptToBase64(kTestKey, TTarvoClient::BatchBody(statements));
  {
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(server_->Port())));
    const std::string head = "POST /v2/executebatch HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
                             client_->Authorization() + "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n";
    socket.sendBytes(head.data(), static_cast<int>(head.size()));
    size_t sent = 0;
    while (sent < body.size()) sent += socket.sendBytes(body.data() + sent, static_cast<int>(body.size() - sent));
    socket.close();
  }
  // While the batch runs it holds row 1; once it is undone an update of
  // row 1 goes through.
  bool through = false;
  for (int i = 0; i < 300 && !through; ++i) {
    through = Execute("UPDATE T_SCHREIB SET TEXT = 'danach' WHERE NR = 1").Status == 200;
    if (!through) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(through);
  EXPECT_EQ(Count("NR > 2000"), 0);
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 1"), R"([{"text":"danach"}])");
}

TEST_F(WriteApiDbTest, ConcurrentWritersOfOneRow) {
  // A row held by another transaction: the request fails with the
  // database's lock conflict and leaves nothing of itself behind.
  {
    db::TIBRDATABASE other;
    other.SetDatabaseName(db_->Connection());
    other.Open();
    db::TIBRQuery hold(other);
    hold.SetSQL("UPDATE T_SCHREIB SET TEXT = 'gehalten' WHERE NR = 1");
    hold.ExecSQL();
    const TClientResponse r = Batch({{"INSERT INTO T_SCHREIB (NR) VALUES (40)", {}},
                                     {"UPDATE T_SCHREIB SET TEXT = 'Anfrage' WHERE NR = 1", {}}});
    EXPECT_EQ(r.Status, 950);
    EXPECT_NE(client_->Decrypt(r.Body).find("update conflicts with concurrent update"), std::string::npos)
        << client_->Decrypt(r.Body);
    other.Commit();
  }
  EXPECT_EQ(Count("NR = 40"), 0);
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 1"), R"([{"text":"gehalten"}])");

  // Two requests at once: the second meets the row while the first holds
  // it (updated, not yet committed) and fails; the first is unharmed.
  auto batch = [](int i) {
    return TTarvoClient::BatchBody({{"UPDATE T_SCHREIB SET TEXT = :T WHERE NR = 1", {{"T", "W" + std::to_string(i)}}},
                                    {"INSERT INTO T_SCHREIB (NR) VALUES (:NR)", {{"NR", std::to_string(50 + i)}}},
                                    {"EXECUTE PROCEDURE P_WARTEN_AUF_SIGNAL(100000000)", {}}});
  };
  TClientResponse first;
  std::thread holder([&] {
    try {
      first = TTarvoClient(Url(), kTestKey).PostEncrypted("/v2/executebatch", batch(0));
    } catch (const std::exception& e) {
      first.Status = -1;
      first.Body = e.what();
    }
  });
  // Wait until the first request holds the row: its batch has reached the
  // waiting procedure, after its update. The probe only reads the monitoring
  // tables, so it can never take the row from the first request itself.
  bool held = false;
  for (int i = 0; i < 500 && !held; ++i) {
    try {
      db::TIBRDATABASE probe;
      probe.SetDatabaseName(db_->Connection());
      probe.Open();
      db::TIBRQuery q(probe);
      q.SetSQL("SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$STATE <> 0 "
               "AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
               "AND MON$SQL_TEXT CONTAINING 'P_WARTEN_AUF_SIGNAL'");
      q.Open();
      held = q.AsInteger(0) > 0;
      q.Close();
      probe.Rollback();
    } catch (const db::EDatabaseError&) {
    }
    if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!held) {
    db_->Execute("INSERT INTO T_SIGNAL (NR) VALUES (1)");
    holder.join();
    FAIL() << "the first request never held the row: " << first.Status;
  }
  const TClientResponse second = client_->PostEncrypted("/v2/executebatch", batch(1));
  db_->Execute("INSERT INTO T_SIGNAL (NR) VALUES (1)");
  holder.join();
  EXPECT_EQ(first.Status, 200) << client_->Decrypt(first.Body);
  EXPECT_EQ(second.Status, 950);
  EXPECT_NE(client_->Decrypt(second.Body).find("update conflicts with concurrent update"), std::string::npos)
      << client_->Decrypt(second.Body);
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 1"), R"([{"text":"W0"}])");
  EXPECT_EQ(Rows("SELECT NR FROM T_SCHREIB WHERE NR >= 50 ORDER BY NR"), R"([{"nr":"50"}])");
}

TEST_F(WriteApiDbTest, StreamBindsTheBodyToBytes) {
  std::string bytes;
  for (int rep = 0; rep < 300; ++rep)
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  ExpectEmptyData(Stream("INSERT INTO T_SCHREIB (NR, TEXT, DATEN) VALUES (:NR, :T, :bytes)",
                         {{"NR", "60"}, {"T", "null"}, {"bytes", "wird nicht gelesen"}}, bytes));
  TClientResponse r = Query("/v2/stream", {"SELECT DATEN FROM T_SCHREIB WHERE NR = 60", {}});
  ASSERT_EQ(r.Status, 200);
  EXPECT_TRUE(client_->Decrypt(r.Body) == bytes);
  // A value of many blob segments, byte for byte.
  std::string big(3 << 20, '\0');
  std::mt19937 rng(17);
  for (auto& c : big) c = static_cast<char>(rng());
  ExpectEmptyData(Stream("UPDATE T_SCHREIB SET DATEN = :BYTES WHERE NR = 60", {{"BYTES", ""}}, big));
  r = Query("/v2/stream", {"SELECT DATEN FROM T_SCHREIB WHERE NR = 60", {}});
  ASSERT_EQ(r.Status, 200);
  EXPECT_TRUE(client_->Decrypt(r.Body) == big);
  // An empty body is a blob of zero bytes, not NULL.
  ExpectEmptyData(Stream("UPDATE T_SCHREIB SET DATEN = :Bytes WHERE NR = :NR", {{"NR", "60"}, {"Bytes", ""}}, ""));
  EXPECT_EQ(Rows("SELECT CASE WHEN DATEN IS NULL THEN 'NULL' ELSE OCTET_LENGTH(DATEN) END AS L, "
                 "CASE WHEN TEXT IS NULL THEN 'NULL' ELSE TEXT END AS T FROM T_SCHREIB WHERE NR = 60"),
            R"([{"l":"0","t":"NULL"}])");
  // A "TARVOSERVER:" text goes to the database here.
  r = Stream("TARVOSERVER:INI:EVENTS-NAMES=X", {}, "x");
  EXPECT_EQ(r.Status, 950);
  // Failures: nothing stored.
  r = Stream("INSERT INTO T_SCHREIB (NR, DATEN) VALUES (666, :BYTES)", {{"BYTES", ""}}, "abc");
  EXPECT_EQ(r.Status, 951);
  EXPECT_EQ(Count("NR = 666"), 0);
  for (const std::string header : {std::string(), client_->EncryptHeader("kein JSON")}) {
    r = client_->Send("POST", "/v2/executestream", server::envelope::EncryptToBase64(kTestKey, "abc"),
                      {{"x-qx-command", header}});
    EXPECT_EQ(r.Status, 500);
    EXPECT_EQ(r.Body, server::kBadRequestText);
  }
}

TEST_F(WriteApiDbTest, ReconfigurationCommandRunsNoSql) {
  TKonfiguration& k = Konfiguration();
  k.EventsNames = "ALT";
  k.Events = true;
  ExpectEmptyData(Execute("TARVOSERVER:INI:EVENTS-NAMES=CHANGELOG,FIS_LOG", {{"EVENTS", "NEIN"}}));
  EXPECT_EQ(k.EventsNames.get(), "CHANGELOG,FIS_LOG");
  EXPECT_FALSE(k.Events.get());
  std::ifstream in(k.FileName(), std::ios::binary);
  std::stringstream file;
  file << in.rdbuf();
  EXPECT_NE(file.str().find("\r\nEVENTS-NAMES=CHANGELOG,FIS_LOG\r\n"), std::string::npos);
  // A command that fails still answers {"data":[]} and changes nothing.
  ExpectEmptyData(Execute("TARVOSERVER:INI:EVENTS-NAMES", {{"EVENTS", "JA"}}));
  EXPECT_EQ(k.EventsNames.get(), "CHANGELOG,FIS_LOG");
  EXPECT_FALSE(k.Events.get());
  // Letter case as written: a lower-case prefix is SQL, which fails.
  EXPECT_EQ(Execute("tarvoserver:INI:EVENTS-NAMES=X").Status, 950);
  k.EventsNames = "";
  k.Events = false;
}

TEST_F(WriteApiDbTest, InvokeEncryptAndDecrypt) {
  auto invoke = [&](const std::string& json) { return client_->PostEncrypted("/v2/invoke", json); };
  const TKonfiguration& k = Konfiguration();
  const std::string meta = R"(],"meta":{"version":")" + k.GetAppVersion() + R"(","datenbankpfad":")" +
                           k.Datenbankpfad.get() + "\"}}";
  const std::string text = "Bericht 4711 f\xC3\xBCr M\xC3\xBCller";
  TClientResponse r = invoke(R"({"method":"Encrypt","params":{"Value":")" + text + "\"}}");
  ASSERT_EQ(r.Status, 200);
  const std::string answer = client_->Decrypt(r.Body);
  const std::string token = server::EncryptValue(text);
  EXPECT_EQ(answer, R"({"data":[{"value":")" + token + "\"}" + meta);
  // Any letter case for the method and the parameter name.
  r = invoke(R"({"method":"decrypt","params":{"VALUE":")" + token + "\"}}");
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(client_->Decrypt(r.Body), R"({"data":[{"value":")" + text + "\"}" + meta);
  // A broken token and a missing value: an empty value, no error.
  for (const std::string body : {R"({"method":"Decrypt","params":{"value":"%ZZ"}})", R"({"method":"Decrypt"})"}) {
    r = invoke(body);
    ASSERT_EQ(r.Status, 200) << body;
    EXPECT_EQ(client_->Decrypt(r.Body), R"({"data":[{"value":""})" + meta);
  }
  // Errors.
  struct Case {
    std::string body;
    int status;
  };
  const Case cases[] = {
      {R"({"method":"Gibtesnicht","params":{"Value":"x"}})", 950},
      {R"({"method":"","params":{"Value":"x"}})", 950},
      {R"({"method":"Encrypt","params":{"Value":"2024-03-05T14:07:09"}})", 950},
      {R"({"method":"Encrypt","params":{"Value":"x","value":"y"}})", 500},
      {R"(kein JSON)", 500},
  };
  for (const auto& c : cases) {
    r = invoke(c.body);
    EXPECT_EQ(r.Status, c.status) << c.body;
  }
  // A date-shaped text that is no date is text.
  r = invoke(R"({"method":"Encrypt","params":{"Value":"2024-13-05T14:07:09"}})");
  EXPECT_EQ(r.Status, 200);
}

TEST_F(WriteApiDbTest, WithoutADatabase) {
  // Invoke and the settings need no connection; everything else answers
  // the connection failure with 950.
  Konfiguration().Datenbankpfad = "localhost/3050:/var/lib/firebird/3.0/data/tarvo/gibt_es_nicht.fdb";
  TClientResponse r = client_->PostEncrypted("/v2/invoke", R"({"method":"Encrypt","params":{"Value":"x"}})");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(client_->Send("GET", "/settings", "").Status, 200);
  const std::pair<std::string, std::string> failing[] = {
      {"/v2/execute", R"({"sql":"TARVOSERVER:INI:EVENTS-NAMES=X"})"},
      {"/v2/executebatch", R"({"statements":[]})"},
  };
  for (const auto& [path, json] : failing) {
    r = client_->PostEncrypted(path, json);
    EXPECT_EQ(r.Status, 950) << path;
    EXPECT_FALSE(client_->Decrypt(r.Body).empty());
  }
  for (const char* path : {"/execute", "/updateblob"}) {
    r = client_->Send("POST", path, "sql=SELECT+1+FROM+RDB%24DATABASE");
    EXPECT_EQ(r.Status, 950) << path;
  }
  EXPECT_NE(Konfiguration().EventsNames.get(), "X");
  Konfiguration().Datenbankpfad = db_->Connection();
}

// The legacy form endpoints.
class LegacyApiDbTest : public WriteApiDbTest {
 protected:
  static std::string Code(std::string_view token) { return server::Md5Hex(token); }
  TClientResponse Form(const std::string& path, const std::string& body, const std::string& query = "") {
    return client_->Send("POST", path + (query.empty() ? "" : "?" + query), body);
  }
};

TEST_F(LegacyApiDbTest, ExecuteReadsAndWrites) {
  const std::string select = Code(server::TStatementTokens::Select);
  const std::string json = "application/json; charset=\"UTF-8\"";
  TClientResponse r = Form("/execute", "sql=SELECT+1+FROM+RDB%24DATABASE&statement=" + select);
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, json);
  EXPECT_EQ(r.Body, R"({"query":[{"constant":"1"}]})");
  // Two stages of escaping; the text forms of the database layer.
  db_->Execute("UPDATE T_SCHREIB SET ZEIT = '2024-03-05 14:07:09', NOTIZ = 'Zeile 1' || ASCII_CHAR(13) || "
               "ASCII_CHAR(10) || '\"Zeile\" 2' WHERE NR = 2");
  r = Form("/execute", "statement=" + select, "sql=SELECT+NR%2C+TEXT%2C+ZEIT%2C+NOTIZ+FROM+T_SCHREIB+ORDER+BY+NR");
  EXPECT_EQ(r.Body,
            R"({"query":[{"nr":"1","text":"eins","zeit":"","notiz":""},)"
            R"({"nr":"2","text":"a\\\/b","zeit":"05.03.2024 14:07:09","notiz":"Zeile 1\\r\\n\"Zeile\" 2"}]})");
  // A blob of raw bytes is read as RTF.
  db_->Execute("UPDATE T_SCHREIB SET DATEN = '{\\rtf1\\ansi Hallo\\par Welt}' WHERE NR = 1");
  r = Form("/execute", "sql=SELECT+DATEN+FROM+T_SCHREIB+WHERE+NR%3D1&statement=" + select);
  EXPECT_EQ(r.Body, R"({"query":[{"daten":"Hallo\\r\\nWelt\\r\\n"}]})");

  for (std::string_view token : {server::TStatementTokens::Insert, server::TStatementTokens::Update}) {
    r = Form("/execute", "statement=" + Code(token) + "&sql=UPDATE+T_SCHREIB+SET+TEXT%3D%27neu%27+WHERE+NR%3D1");
    EXPECT_EQ(r.ContentType, json);
    EXPECT_EQ(r.Body, R"({ "status":"OK", "message":"" })");
  }
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 1"), R"([{"text":"neu"}])");
  r = Form("/execute", "statement=" + Code(server::TStatementTokens::Delete) +
                           "&sql=INSERT+INTO+T_SCHREIB+(NR,TEXT)+VALUES+(1,'%22doppelt%22')");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body.substr(0, 34), R"({ "status":"error", "message":"vio)") << r.Body;
  EXPECT_EQ(r.Body.substr(r.Body.size() - 3), "\" }");
  EXPECT_EQ(r.Body.find('"', 34), r.Body.size() - 3) << "no quotation marks inside the message: " << r.Body;
  EXPECT_NE(r.Body.find("\\n"), std::string::npos);
}

TEST_F(LegacyApiDbTest, UnknownOrMissingCodesRunNothing) {
  struct Case {
    std::string body;
    std::string answer;
  };
  const Case cases[] = {
      {"sql=DELETE+FROM+T_SCHREIB&statement=abc",
       "sql=DELETE FROM T_SCHREIB\r\nstatement=abc\r\n  TARVOserver: Statement (abc) nicht erlaubt. "},
      {"sql=DELETE+FROM+T_SCHREIB", "sql=DELETE FROM T_SCHREIB\r\n  TARVOserver: Statement () nicht erlaubt. "},
      {"sql=DELETE+FROM+T_SCHREIB&statement=" + server::Md5Hex("TvLsselect17"),
       "sql=DELETE FROM T_SCHREIB\r\nstatement=" + server::Md5Hex("TvLsselect17") + "\r\n  TARVOserver: Statement (" +
           server::Md5Hex("TvLsselect17") + ") nicht erlaubt. "},
  };
  for (const auto& c : cases) {
    const TClientResponse r = Form("/execute", c.body);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.ContentType, server::kDefaultContentType);
    EXPECT_EQ(r.Body, c.answer);
  }
  EXPECT_EQ(Count("1 = 1"), 2);
  // A failing read answers the same way.
  const TClientResponse r = Form("/execute", "sql=SELECT+*+FROM+GIBT_ES_NICHT&statement=" +
                                                 Code(server::TStatementTokens::Select));
  const std::string echo =
      "sql=SELECT * FROM GIBT_ES_NICHT\r\nstatement=" + Code(server::TStatementTokens::Select) + "\r\n  TARVOserver: ";
  EXPECT_EQ(r.Body.substr(0, echo.size()), echo);
  EXPECT_NE(r.Body.find("GIBT_ES_NICHT", 40), std::string::npos);
}

TEST_F(LegacyApiDbTest, SettingsAndUpdateBlob) {
  SetSystemFormatSettings(FormatSettings::German());
  TClientResponse r = client_->Send("GET", "/settings", "");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "application/json; charset=\"UTF-8\"");
  EXPECT_EQ(r.Body,
            "{\"dateformat\":\"d.m.Y\",\"timeformat\":\"H:i\",\"dateseparator\":\".\",\"timeseparator\":\":\","
            "\"currencystring\":\"\xE2\x82\xAC\"}");

  r = Form("/updateblob", "sql=UPDATE+T_SCHREIB+SET+NOTIZ%3D%3Acontent+WHERE+NR%3D1&blobcontent=Gr%C3%BC%C3%9Fe+%26+mehr");
  EXPECT_EQ(r.Body, "OK");
  EXPECT_EQ(Rows("SELECT NOTIZ FROM T_SCHREIB WHERE NR = 1"), "[{\"notiz\":\"Gr\xC3\xBC\xC3\x9F" "e & mehr\"}]");
  // ERR: and three more characters are cut off; status 200.
  r = Form("/updateblob", "sql=UPDATE+T_SCHREIB+SET+TEXT%3D%3Acontent+WHERE+NR%3D1&blobcontent=VERBOTEN");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body.substr(0, 16), " Kunde gesperrt\n") << r.Body;
  r = Form("/updateblob", "sql=UPDATE+T_SCHREIB+SET+TEXT%3D'x'+WHERE+NR%3D1&blobcontent=x");
  EXPECT_EQ(r.Status, 200);
  EXPECT_NE(r.Body.find("content"), std::string::npos) << r.Body;
  EXPECT_EQ(Rows("SELECT TEXT FROM T_SCHREIB WHERE NR = 1"), R"([{"text":"eins"}])");
}

}  // namespace
}  // namespace tarvo::testing_web
