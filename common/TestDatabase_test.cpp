// The test support itself: script splitting, the schema as the system
// names it, isql compatibility of schema.sql, loud failure, clean drop.
#include "common/testing/TestDatabase.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/IBTarvo.h"

namespace tarvo::testing {
namespace {

using ::testing::HasSubstr;

TEST(TestDatabaseScript, SplitsAtSemicolonsOutsideQuotesAndComments) {
  struct Case {
    const char* script;
    std::vector<std::string> statements;
  };
  const Case cases[] = {
      {"CREATE TABLE A (X INTEGER);\nCOMMIT;", {"CREATE TABLE A (X INTEGER)", "COMMIT"}},
      {"INSERT INTO A VALUES ('a;b'); INSERT INTO A VALUES (\"c;\"\"d\")",
       {"INSERT INTO A VALUES ('a;b')", "INSERT INTO A VALUES (\"c;\"\"d\")"}},
      {"-- eins; zwei\nSELECT 1 FROM X; /* drei; */ SELECT 2 FROM Y;",
       {"SELECT 1 FROM X", "SELECT 2 FROM Y"}},
      {"  ;;\n ; ", {}},
      {"SELECT 'it''s; fine' FROM X", {"SELECT 'it''s; fine' FROM X"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(TestDatabase::SplitScript(c.script), c.statements);
  }
}

// Column names of a table in their order.
std::vector<std::string> Columns(const TestDatabase& database, const std::string& table) {
  db::TIBRDATABASE db;
  db.SetDatabaseName(database.ConnectionString());
  db::TIBRQuery q(db);
  q.SetSQL(
      "SELECT TRIM(RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = :T "
      "ORDER BY RDB$FIELD_POSITION");
  q.SetParamText("T", table);
  std::vector<std::string> names;
  for (q.Open(); !q.Eof(); q.Next()) names.push_back(q.AsText(0));
  return names;
}

void ExpectSystemTables(const TestDatabase& database) {
  using ::testing::IsSupersetOf;
  EXPECT_EQ(Columns(database, "VORLAGEN"),
            (std::vector<std::string>{"NR", "HAUPTTEXT", "ART", "STANDARD", "NAME", "TEXT1", "TEXT2",
                                      "DRUCKER", "DRUCKERWAHL", "FOLGEFORMULAR", "DATUM",
                                      "ANGEPASST", "BEREICH", "DOKTYP", "VERSTECKT",
                                      "DOKKATEGORIE", "GEAENDERTAM", "BEARBEITER", "PWD"}));
  EXPECT_THAT(Columns(database, "T_KONFIGURATION"),
              IsSupersetOf({"BEREICH", "KATEGORIE", "WERT"}));
  EXPECT_THAT(Columns(database, "FIRMENSTAMM"), IsSupersetOf({"DATAVERS"}));
  for (const char* log : {"CHANGELOG", "FHT_CHANGELOG", "FIS_LOG"}) {
    SCOPED_TRACE(log);
    EXPECT_THAT(Columns(database, log), IsSupersetOf({"NR"}));
  }
  EXPECT_THAT(Columns(database, "ADRESSEN"),
              IsSupersetOf({"KENNZIFFER", "ORT", "PLZ", "NAME1", "NAME2", "NAME3", "STRASSE",
                            "HINWEIS", "GRUPPE", "GESPERRT", "GEBURTSTAG", "LAND"}));
}

TEST(TestDatabaseDb, CreatesTheSystemsTablesAndDropsTheFileAfterwards) {
  std::string connection;
  {
    TestDatabase database;
    connection = database.ConnectionString();
    EXPECT_EQ(connection.rfind("localhost/3050:" + TestDatabase::DataFolder() + "/", 0), 0u);
    ExpectSystemTables(database);
    // The statements the system runs against these tables are accepted.
    database.Execute("INSERT INTO FIRMENSTAMM (NR, DATAVERS) VALUES (1, 42)");
    db::TIBRDATABASE db;
    db.SetDatabaseName(connection);
    db::TIBRQuery q(db);
    q.SetSQL("SELECT DATAVERS FROM FIRMENSTAMM ROWS 1");
    q.Open();
    EXPECT_EQ(q.AsText(0), "42");
    q.SetSQL("SELECT NR FROM FIS_LOG WHERE NR < 0 ROWS 1");
    q.Open();
    EXPECT_TRUE(q.Eof());
    q.SetSQL(
        "SELECT V.*, (SELECT K.WERT FROM T_KONFIGURATION K WHERE K.BEREICH=\"VORSCHAUDRUCKEN\" "
        "AND K.KATEGORIE=\"System\") AS VORSCHAUDRUCK FROM VORLAGEN V WHERE V.DOKTYP='F' AND "
        "V.BEREICH=:BEREICH AND V.ART=:ART");
    q.SetParamText("BEREICH", "T-TOURISTIK");
    q.SetParamText("ART", "BESTAETIGUNG");
    q.Open();
    EXPECT_EQ(q.FieldCount(), 20);
  }
  db::TIBRDATABASE gone;
  gone.SetDatabaseName(connection);
  EXPECT_THROW(gone.Open(), db::EDatabaseError);
}

TEST(TestDatabaseDb, SchemaRunsUnderIsqlAsItStands) {
  TestDatabase database(TestDatabase::Schema::None);
  const std::string command = "isql-fb -q -sql_dialect 1 -user SYSDBA -password quillfern -i '" +
                              TestDatabase::SchemaFile() + "' '" + database.ConnectionString() +
                              "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");
  ExpectSystemTables(database);
}

TEST(TestDatabaseDb, AnUnusableFolderFailsLoudlyWithTheStartHint) {
  const char* old = std::getenv("TARVO_FB_DATA");
  const std::string saved = old ? old : "";
  setenv("TARVO_FB_DATA", "/nonexistent/tarvo-folder", 1);
  try {
    TestDatabase database;
    ADD_FAILURE() << "created " << database.Path();
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("/nonexistent/tarvo-folder"));
    EXPECT_THAT(e.what(), HasSubstr("scripts/firebird-start.sh"));
  }
  if (old)
    setenv("TARVO_FB_DATA", saved.c_str(), 1);
  else
    unsetenv("TARVO_FB_DATA");
}

}  // namespace
}  // namespace tarvo::testing
