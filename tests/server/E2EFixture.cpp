#include "tests/server/E2EFixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/Konfiguration.h"
#include "server/Envelope.h"

namespace tarvo::testing_web {
namespace {

std::string DataFolder() {
  const char* env = std::getenv("TARVO_FB_DATA");
  return env && *env ? env : "/var/lib/firebird/3.0/data/tarvo";
}

// Runs isql-fb on a script; throws with its output when it fails.
std::string RunIsql(const std::string& script) {
  static std::atomic<int> counter{0};
  const std::string file = std::filesystem::temp_directory_path() /
                           ("tarvo_web_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".sql");
  {
    std::ofstream out(file, std::ios::binary);
    out << script;
  }
  const std::string command = "isql-fb -q -b -user SYSDBA -password quillfern -i " + file + " 2>&1";
  std::string output;
  FILE* p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("isql-fb could not be started");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  const int rc = pclose(p);
  std::filesystem::remove(file);
  if (rc != 0)
    throw std::runtime_error("isql-fb failed (is the server up? run scripts/firebird-start.sh): " + output);
  return output;
}

}  // namespace

const char* const kTestSchema = R"SQL(
CREATE TABLE T_WERTE (
  NR INTEGER NOT NULL PRIMARY KEY,
  GANZ INTEGER,
  KLEIN SMALLINT,
  FLIESS DOUBLE PRECISION,
  BETRAG NUMERIC(15,2),
  ZEIT TIMESTAMP,
  TEXT VARCHAR(200),
  RTF__HINWEIS VARCHAR(500),
  NOTIZ BLOB SUB_TYPE 1,
  DATEN BLOB SUB_TYPE 0
);
CREATE EXCEPTION E_GESPERRT 'Fehler im Auftrag ERR: Kunde gesperrt';
SET TERM ^ ;
CREATE PROCEDURE P_GESPERRT RETURNS (X INTEGER) AS
BEGIN
  EXCEPTION E_GESPERRT;
  SUSPEND;
END^
CREATE PROCEDURE P_LANGSAM (N INTEGER) RETURNS (X INTEGER) AS
DECLARE VARIABLE I INTEGER;
BEGIN
  I = 0;
  WHILE (I < N) DO I = I + 1;
  X = I;
  SUSPEND;
END^
CREATE PROCEDURE P_ZEILEN (N INTEGER) RETURNS (X INTEGER, T VARCHAR(40), F DOUBLE PRECISION) AS
BEGIN
  X = 0;
  WHILE (X < N) DO
  BEGIN
    X = X + 1;
    T = 'Zeile ' || X;
    F = X * 1.25;
    SUSPEND;
  END
END^
SET TERM ; ^
INSERT INTO T_WERTE (NR, GANZ, KLEIN, FLIESS, BETRAG, ZEIT, TEXT, RTF__HINWEIS)
  VALUES (1, 42, -7, 1234.5, 12.34, '2024-03-05 14:07:09.5', 'Gr' || ASCII_CHAR(252) || '' || ASCII_CHAR(223) || 'e "x" \ /', '{\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0 Hallo\par}');
INSERT INTO T_WERTE (NR) VALUES (2);
INSERT INTO T_WERTE (NR, ZEIT, TEXT) VALUES (3, '1899-12-30 00:00:00', '2024-13-05T14:07:09');
COMMIT;
)SQL";

ThrowawayDatabase::ThrowawayDatabase(const std::string& script) {
  static std::atomic<int> counter{0};
  path_ = DataFolder() + "/web_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".fdb";
  connection_ = "localhost/3050:" + path_;
  RunIsql("SET SQL DIALECT 1;\nCREATE DATABASE '" + connection_ +
          "' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;\n" + script +
          "\nCOMMIT;\n");
}

ThrowawayDatabase::~ThrowawayDatabase() {
  try {
    RunIsql("CONNECT '" + connection_ + "' USER 'SYSDBA' PASSWORD 'quillfern';\nDROP DATABASE;\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dropping %s failed: %s\n", path_.c_str(), e.what());
  }
}

std::string ThrowawayDatabase::Isql(const std::string& script) const {
  return RunIsql("SET SQL DIALECT 1;\nCONNECT '" + connection_ + "' USER 'SYSDBA' PASSWORD 'quillfern';\n" + script +
                 "\nCOMMIT;\n");
}

std::unique_ptr<ThrowawayDatabase> WebServerTest::db_;
std::unique_ptr<server::ServerContext> WebServerTest::context_;
std::unique_ptr<server::TWebServer> WebServerTest::server_;
std::string WebServerTest::basis_;

void WebServerTest::SetUpTestSuite() {
  db_ = std::make_unique<ThrowawayDatabase>(kTestSchema);
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
