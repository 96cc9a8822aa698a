#include "tests/server/E2EFixture.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/Konfiguration.h"
#include "common/IBTarvo.h"
#include "server/Envelope.h"

namespace tarvo::testing_web {
namespace {

// Tables, procedures and rows of the tests, one statement each.
const char* const kSchema[] = {
    "CREATE TABLE T_WERTE (NR INTEGER NOT NULL PRIMARY KEY, GANZ INTEGER, KLEIN SMALLINT, FLIESS DOUBLE "
    "PRECISION, BETRAG NUMERIC(15,2), ZEIT TIMESTAMP, TEXT VARCHAR(200), RTF__HINWEIS VARCHAR(500), NOTIZ BLOB "
    "SUB_TYPE 1, DATEN BLOB SUB_TYPE 0)",
    "CREATE EXCEPTION E_GESPERRT 'Fehler im Auftrag ERR: Kunde gesperrt'",
    "CREATE PROCEDURE P_GESPERRT RETURNS (X INTEGER) AS BEGIN EXCEPTION E_GESPERRT; SUSPEND; END",
    // Busy for a while, then one row.
    "CREATE PROCEDURE P_LANGSAM (N INTEGER) RETURNS (X INTEGER) AS DECLARE VARIABLE I INTEGER; BEGIN I = 0; "
    "WHILE (I < N) DO I = I + 1; X = I; SUSPEND; END",
    "INSERT INTO T_WERTE (NR, GANZ, KLEIN, FLIESS, BETRAG, ZEIT, TEXT, RTF__HINWEIS) VALUES (1, 42, -7, 1234.5, "
    "12.34, '2024-03-05 14:07:09.5', 'Gr' || ASCII_CHAR(252) || ASCII_CHAR(223) || 'e \"x\" \\ /', "
    "'{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hallo\\par}')",
    "INSERT INTO T_WERTE (NR) VALUES (2)",
    "INSERT INTO T_WERTE (NR, ZEIT, TEXT) VALUES (3, '1899-12-30 00:00:00', '2024-13-05T14:07:09')",
};

}  // namespace

ThrowawayDatabase::ThrowawayDatabase() {
  for (const char* statement : kSchema) db_.Execute(statement);
}

int ThrowawayDatabase::OtherAttachments(int64_t except) const {
  db::TIBRDATABASE connection;
  connection.SetDatabaseName(Connection());
  connection.Open();
  db::TIBRQuery query(connection);
  query.SetSQL(
      "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0 AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
      "AND MON$ATTACHMENT_ID <> :EXCEPT");
  query.SetParamInteger("EXCEPT", except);
  query.Open();
  const int n = static_cast<int>(query.AsInteger(0));
  query.Close();
  connection.Close();
  return n;
}

std::unique_ptr<ThrowawayDatabase> WebServerTest::db_;
std::unique_ptr<server::ServerContext> WebServerTest::context_;
std::unique_ptr<server::TWebServer> WebServerTest::server_;
std::string WebServerTest::basis_;

void WebServerTest::SetUpTestSuite() {
  db_ = std::make_unique<ThrowawayDatabase>();
  basis_ = std::filesystem::temp_directory_path() / ("tarvo_web_basis_" + std::to_string(getpid()) + "/");
  std::filesystem::create_directories(basis_);
  TKonfiguration& k = Konfiguration();
  k.BasisPfad = basis_;
  k.TarvoServerPort = "0";
  k.Sicherheitsschluessel = kTestKey;
  k.Datenbankpfad = db_->Connection();
  context_ = std::make_unique<server::ServerContext>();
  context_->Session0 = true;
  server_ = std::make_unique<server::TWebServer>(*context_);
  server_->Start();
}

void WebServerTest::TearDownTestSuite() {
  server_.reset();
  context_.reset();
  db_.reset();
  std::error_code ec;
  std::filesystem::remove_all(basis_, ec);
}

void WebServerTest::SetUp() {
  ASSERT_TRUE(server_ && server_->Active());
  TKonfiguration& k = Konfiguration();
  k.Sicherheitsschluessel = kTestKey;
  k.Datenbankpfad = db_->Connection();
  k.DevMode = false;
  client_ = std::make_unique<server::TTarvoClient>(Url(), kTestKey);
}

void WebServerTest::TearDown() {
  client_.reset();
}

std::string WebServerTest::Url() {
  return "http://127.0.0.1:" + std::to_string(server_->Port());
}

server::TClientResponse WebServerTest::Query(const std::string& path, const server::TRequestStatement& s,
                                             const server::THeaders& headers) {
  return client_->PostEncrypted(path, server::TTarvoClient::StatementBody(s), headers);
}

std::string WebServerTest::QueryJson(const std::string& sql,
                                     const std::vector<std::pair<std::string, std::string>>& params) {
  const server::TClientResponse r = Query("/v2/query", {sql, params});
  EXPECT_EQ(r.Status, 200) << client_->Decrypt(r.Body) << r.Body;
  EXPECT_EQ(r.ContentType, "application/octet-stream");
  return r.Status == 200 ? client_->Decrypt(r.Body) : std::string();
}

}  // namespace tarvo::testing_web
