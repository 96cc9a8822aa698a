// The database layer against the real server: text forms of every column
// kind, parameters, transactions, errors, blobs and the validation hook.
#include "common/IBTarvo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/IBTarvoDetail.h"

#include "common/testing/TestDatabase.h"

namespace tarvo::db {
namespace {

using ::testing::HasSubstr;
using tarvo::testing::TestDatabase;

FormatSettings German() { return FormatSettings::German(); }

// One database for the suite; each test works in tables of its own.
class IBTarvoDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { database_ = new TestDatabase(TestDatabase::Schema::Tarvo); }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override {
    db_.SetDatabaseName(database_->ConnectionString());
    db_.Open();
  }

  // Runs one statement on the suite's own connection and commits.
  void Exec(const std::string& sql) {
    TIBRQuery q(db_);
    q.SetSQL(sql);
    q.ExecSQL();
    db_.Commit();
  }

  // The first column of the first row as text.
  std::string Scalar(const std::string& sql) {
    TIBRQuery q(db_);
    q.SetFormatSettings(German());
    q.SetSQL(sql);
    q.Open();
    EXPECT_FALSE(q.Eof()) << sql;
    return q.AsText(0);
  }

  static TestDatabase* database_;
  TIBRDATABASE db_;
};
TestDatabase* IBTarvoDb::database_ = nullptr;

TEST_F(IBTarvoDb, EveryColumnKindHasItsTextForm) {
  Exec(
      "CREATE TABLE KINDS (I16 SMALLINT, I32 INTEGER, N152 NUMERIC(15,2), N184 NUMERIC(18,4),"
      " N92 NUMERIC(9,2), DP DOUBLE PRECISION, FL FLOAT, DT DATE, VC VARCHAR(40), CH CHAR(5),"
      " TB BLOB SUB_TYPE 1, BB BLOB SUB_TYPE 0)");
  Exec(
      "INSERT INTO KINDS VALUES (-12, 2147483647, 1234567.5, -12.3456, 0.05, 0.1, 1.1,"
      " '15.03.2025 14:30:05', 'Grüße aus Köln', 'ab', 'Straße übermorgen', NULL)");
  {
    // All 256 byte values into the binary blob.
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    TIBRQuery q(db_);
    q.SetSQL("UPDATE KINDS SET BB = :B");
    q.SetParamBlob("B", bytes);
    q.ExecSQL();
    db_.Commit();
  }

  TIBRQuery q(db_);
  q.SetFormatSettings(German());
  q.SetSQL("SELECT * FROM KINDS");
  q.Open();
  ASSERT_FALSE(q.Eof());

  struct Expect {
    const char* field;
    FieldKind kind;
    const char* text;
  };
  const Expect expected[] = {
      {"I16", FieldKind::Integer, "-12"},
      {"I32", FieldKind::Integer, "2147483647"},
      {"N152", FieldKind::ScaledNumeric, "1234567,5"},
      {"N184", FieldKind::ScaledNumeric, "-12,3456"},
      {"N92", FieldKind::ScaledNumeric, "0,05"},
      {"DP", FieldKind::Float, "0,1"},
      {"FL", FieldKind::Float, "1,1"},
      {"DT", FieldKind::DateTime, "15.03.2025 14:30:05"},
      {"VC", FieldKind::Character, "Grüße aus Köln"},
      {"CH", FieldKind::Character, "ab   "},
      {"TB", FieldKind::TextBlob, "Straße übermorgen"},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.field);
    const int i = q.FieldIndex(e.field);
    ASSERT_GE(i, 0);
    EXPECT_EQ(q.Kind(i), e.kind);
    EXPECT_FALSE(q.IsNull(i));
    EXPECT_EQ(q.AsText(i), e.text);
  }

  const int bb = q.FieldIndex("bb");
  EXPECT_EQ(q.Kind(bb), FieldKind::BinaryBlob);
  const std::string bytes = q.AsBytes(bb);
  ASSERT_EQ(bytes.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<unsigned char>(bytes[i]), i);
  EXPECT_EQ(q.AsText(bb), bytes);

  EXPECT_EQ(q.AsInteger(q.FieldIndex("I32")), 2147483647);
  EXPECT_DOUBLE_EQ(q.AsDouble(q.FieldIndex("N152")), 1234567.5);
  EXPECT_DOUBLE_EQ(q.AsDouble(q.FieldIndex("N184")), -12.3456);
  EXPECT_EQ(q.AsDateTime(q.FieldIndex("DT")), (DateTime{2025, 3, 15, 14, 30, 5, 0}));
  // A text blob's raw bytes are the stored code page, its text is UTF-8.
  EXPECT_EQ(q.AsBytes(q.FieldIndex("TB")), "Stra\xDF" "e \xFC" "bermorgen");

  q.Next();
  EXPECT_TRUE(q.Eof());
}

TEST_F(IBTarvoDb, NullValuesReadAsEmptyAndZero) {
  Exec("CREATE TABLE NULLS (I INTEGER, N NUMERIC(15,2), D DATE, V VARCHAR(5), B BLOB SUB_TYPE 0)");
  Exec("INSERT INTO NULLS VALUES (NULL, NULL, NULL, NULL, NULL)");
  TIBRQuery q(db_);
  q.SetSQL("SELECT * FROM NULLS");
  q.Open();
  ASSERT_FALSE(q.Eof());
  for (int i = 0; i < q.FieldCount(); ++i) {
    SCOPED_TRACE(q.FieldName(i));
    EXPECT_TRUE(q.IsNull(i));
    EXPECT_EQ(q.AsText(i), "");
    EXPECT_EQ(q.AsBytes(i), "");
    EXPECT_EQ(q.AsInteger(i), 0);
    EXPECT_EQ(q.AsDouble(i), 0);
  }
  int calls = 0;
  q.ReadBlob(q.FieldIndex("B"), [&](std::string_view) { ++calls; });
  EXPECT_EQ(calls, 0);
}

TEST_F(IBTarvoDb, NumbersAreWrittenLikeTheLocale) {
  struct Case {
    const char* expr;
    const char* text;
  };
  // Computed in dialect 1: literals with a decimal point are doubles.
  const Case cases[] = {
      {"CAST(123456789012345 AS DOUBLE PRECISION)", "123456789012345"},
      {"CAST(1234567890123456 AS DOUBLE PRECISION)", "1,23456789012346E15"},
      {"CAST(0.0001 AS DOUBLE PRECISION)", "0,0001"},
      {"CAST(0.00001 AS DOUBLE PRECISION)", "1E-5"},
      {"CAST(-2.5 AS DOUBLE PRECISION)", "-2,5"},
      {"CAST(0.1 AS DOUBLE PRECISION) + CAST(0.2 AS DOUBLE PRECISION)", "0,3"},
      {"CAST(0 AS NUMERIC(15,2))", "0"},
      {"CAST(100 AS NUMERIC(9,2))", "100"},
      {"CAST(-0.5 AS NUMERIC(4,1))", "-0,5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    EXPECT_EQ(Scalar(std::string("SELECT ") + c.expr + " FROM RDB$DATABASE"), c.text);
  }
  // Another locale's decimal separator.
  FormatSettings us = German();
  us.DecimalSeparator = '.';
  TIBRQuery q(db_);
  q.SetFormatSettings(us);
  q.SetSQL("SELECT CAST(1234.5 AS NUMERIC(9,2)) FROM RDB$DATABASE");
  q.Open();
  EXPECT_EQ(q.AsText(0), "1234.5");
}

TEST_F(IBTarvoDb, WideResultsAndManyParameters) {
  std::string sql = "SELECT ";
  for (int i = 0; i < 30; ++i) sql += (i ? ", " : "") + std::string("CAST(:P") + std::to_string(i) +
                                      " AS INTEGER) + " + std::to_string(i) + " AS C" +
                                      std::to_string(i);
  sql += " FROM RDB$DATABASE";
  TIBRQuery q(db_);
  q.SetSQL(sql);
  for (int i = 0; i < 30; ++i) q.SetParamInteger("P" + std::to_string(i), 100 * i);
  q.Open();
  ASSERT_EQ(q.FieldCount(), 30);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(q.FieldName(i), "C" + std::to_string(i));
    EXPECT_EQ(q.AsInteger(i), 101 * i);
  }
}

TEST_F(IBTarvoDb, DateTimeTextLeavesOutMidnight) {
  EXPECT_EQ(Scalar("SELECT CAST('01.02.2024' AS DATE) FROM RDB$DATABASE"), "01.02.2024");
  EXPECT_EQ(Scalar("SELECT CAST('01.02.2024 00:00:01' AS DATE) FROM RDB$DATABASE"),
            "01.02.2024 00:00:01");
}

TEST(ParseNamedParameters, NamesOutsideQuotesAndComments) {
  struct Case {
    const char* sql;
    const char* positional;
    std::vector<std::string> positions;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"SELECT * FROM T WHERE A=:A AND B=:b OR C=:a", "SELECT * FROM T WHERE A=? AND B=? OR C=?",
       {"A", "B", "A"}, {"A", "b"}},
      {"SELECT ':X', \":Y\" FROM T WHERE Z = :Z", "SELECT ':X', \":Y\" FROM T WHERE Z = ?", {"Z"},
       {"Z"}},
      {"-- :C\nSELECT /* :D */ :E_1$ FROM T", "-- :C\nSELECT /* :D */ ? FROM T", {"E_1$"}, {"E_1$"}},
      {"SELECT 'it''s :NO' || :YES FROM T", "SELECT 'it''s :NO' || ? FROM T", {"YES"}, {"YES"}},
      {"SELECT \"say \"\":NO\"\"\" FROM T WHERE X=:YES", "SELECT \"say \"\":NO\"\"\" FROM T WHERE X=?",
       {"YES"}, {"YES"}},
      {"SELECT ':OPEN FROM T", "SELECT ':OPEN FROM T", {}, {}},
      {"SELECT * FROM T WHERE A = ? AND B = :B", "SELECT * FROM T WHERE A = ? AND B = ?", {"", "B"},
       {"B"}},
      {"SELECT a - -1, x FROM T WHERE D > '12:30' AND :P>0", "SELECT a - -1, x FROM T WHERE D > '12:30' AND ?>0",
       {"P"}, {"P"}},
      {"SELECT 1 FROM T WHERE A = : B", "SELECT 1 FROM T WHERE A = : B", {}, {}},
      // PSQL bodies name their variables with a colon.
      {"CREATE TRIGGER X FOR T BEFORE INSERT AS BEGIN NEW.A = :B; END",
       "CREATE TRIGGER X FOR T BEFORE INSERT AS BEGIN NEW.A = :B; END", {}, {}},
      {" -- neu\nrecreate procedure P AS BEGIN :x = 1; END",
       " -- neu\nrecreate procedure P AS BEGIN :x = 1; END", {}, {}},
      {"EXECUTE BLOCK (N INTEGER = :N, \"AS\" VARCHAR(2) = :AS_TEXT) RETURNS (R INTEGER) AS "
       "DECLARE I INTEGER = 0; BEGIN WHILE (I < :N) DO I = I + 1; R = :I; SUSPEND; END",
       "EXECUTE BLOCK (N INTEGER = ?, \"AS\" VARCHAR(2) = ?) RETURNS (R INTEGER) AS "
       "DECLARE I INTEGER = 0; BEGIN WHILE (I < :N) DO I = I + 1; R = :I; SUSPEND; END",
       {"N", "AS_TEXT"}, {"N", "AS_TEXT"}},
      {"execute block as begin post_event :x; end", "execute block as begin post_event :x; end",
       {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const ParsedStatement p = ParseNamedParameters(c.sql);
    EXPECT_EQ(p.positionalSql, c.positional);
    EXPECT_EQ(p.positions, c.positions);
    EXPECT_EQ(p.names, c.names);
  }
}

TEST_F(IBTarvoDb, RepeatedNamesAndQuotedLookalikesBindCorrectly) {
  Exec("CREATE TABLE P (A VARCHAR(20), B VARCHAR(20), C VARCHAR(40), N INTEGER)");
  TIBRQuery q(db_);
  q.SetSQL(
      "INSERT INTO P (A, B, C, N) VALUES (:x, ':X', \":Y -- /* kein Kommentar\", :N) -- :Z");
  EXPECT_EQ(q.ParamNames(), (std::vector<std::string>{"x", "N"}));
  EXPECT_TRUE(q.HasParam("X"));
  EXPECT_FALSE(q.HasParam("Y"));
  q.SetParamText("X", "eins");
  q.SetParamInteger("n", 7);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);

  q.SetSQL("SELECT A, B, C, N FROM P WHERE A = :V AND C CONTAINING :V2 OR A = :v AND N = :v3");
  q.SetParamText("V", "eins");
  q.SetParamText("V2", "Kommentar");
  q.SetParamInteger("V3", 7);
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.AsText(0), "eins");
  EXPECT_EQ(q.AsText(1), ":X");
  EXPECT_EQ(q.AsText(2), ":Y -- /* kein Kommentar");
  EXPECT_EQ(q.AsInteger(3), 7);
}

TEST_F(IBTarvoDb, ExecuteBlockTakesParametersOnlyInItsHeader) {
  TIBRQuery q(db_);
  q.SetSQL(
      "EXECUTE BLOCK (N INTEGER = :N) RETURNS (R INTEGER) AS DECLARE I INTEGER = 0; "
      "BEGIN WHILE (I < :N) DO BEGIN I = I + 1; R = :I * 10; SUSPEND; END END");
  EXPECT_EQ(q.ParamNames(), (std::vector<std::string>{"N"}));
  q.SetParamInteger("N", 3);
  std::string rows;
  for (q.Open(); !q.Eof(); q.Next()) rows += q.AsText(0) + ";";
  EXPECT_EQ(rows, "10;20;30;");
}

TEST_F(IBTarvoDb, UnknownParameterNameIsAnError) {
  TIBRQuery q(db_);
  q.SetSQL("SELECT 1 FROM RDB$DATABASE WHERE 1 = :ONE");
  for (auto set : std::vector<std::function<void()>>{
           [&] { q.SetParamText("TWO", "x"); }, [&] { q.SetParamInteger("TWO", 1); },
           [&] { q.SetParamNull("TWO"); }, [&] { q.SetParamBlob("TWO", "x"); },
           [&] { q.SetParamDouble("TWO", 1); }, [&] { q.SetParamDateTime("TWO", {}); }}) {
    try {
      set();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "Parameter TWO not found");
    }
  }
  // SetSQL forgets the old names and values.
  q.SetParamInteger("ONE", 1);
  q.SetSQL("SELECT 1 FROM RDB$DATABASE WHERE 1 = :TWO");
  EXPECT_THROW(q.SetParamInteger("ONE", 1), EDatabaseError);
  q.Open();
  EXPECT_TRUE(q.Eof());  // TWO was never set: NULL
}

TEST_F(IBTarvoDb, EveryParameterKindReachesItsColumn) {
  Exec(
      "CREATE TABLE PK (I INTEGER, BI NUMERIC(9,2), N NUMERIC(15,2), D DATE, V VARCHAR(20),"
      " U VARCHAR(20) CHARACTER SET UTF8, TB BLOB SUB_TYPE 1, BB BLOB SUB_TYPE 0, Z INTEGER)");
  TIBRQuery q(db_);
  q.SetSQL("INSERT INTO PK VALUES (:I, :BI, :N, :D, :V, :U, :TB, :BB, :Z)");
  q.SetParamInteger("I", -42);
  q.SetParamInteger("BI", 1234567);  // the server scales the integer
  q.SetParamText("N", "1234.56");              // the server casts the text
  q.SetParamDateTime("D", DateTime{2024, 2, 29, 23, 59, 58, 0});
  q.SetParamText("V", "Äpfel & Öl");
  q.SetParamText("U", "Grüße €");
  q.SetParamText("TB", "Text-Blob: ß");
  q.SetParamBlob("BB", std::string("\0\xFF\x80", 3));
  q.SetParamNull("Z");
  q.ExecSQL();

  q.SetSQL("SELECT * FROM PK");
  q.SetFormatSettings(German());
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.AsInteger(0), -42);
  EXPECT_EQ(q.AsText(1), "1234567");
  EXPECT_EQ(q.AsText(2), "1234,56");
  EXPECT_EQ(q.AsDateTime(3), (DateTime{2024, 2, 29, 23, 59, 58, 0}));
  EXPECT_EQ(q.AsText(4), "Äpfel & Öl");
  EXPECT_EQ(q.AsText(5), "Grüße €");
  EXPECT_EQ(q.AsText(6), "Text-Blob: ß");
  EXPECT_EQ(q.AsBytes(7), std::string("\0\xFF\x80", 3));
  EXPECT_TRUE(q.IsNull(8));

  // A long text into a text blob crosses several segments intact.
  std::string longText;
  while (longText.size() < 100000) longText += "Grüße aus Köln, Straße ";
  q.SetSQL("UPDATE PK SET TB = :TB");
  q.SetParamText("TB", longText);
  q.ExecSQL();
  q.SetSQL("SELECT TB FROM PK");
  q.Open();
  std::string streamed;
  q.ReadBlob(0, [&](std::string_view chunk) { streamed.append(chunk); });
  EXPECT_TRUE(streamed == longText);
  EXPECT_TRUE(q.AsText(0) == longText);

  // A double parameter, and a text the server cannot cast.
  q.SetSQL("SELECT CAST(:X AS DOUBLE PRECISION) * 2 FROM RDB$DATABASE");
  q.SetParamDouble("X", 0.25);
  q.Open();
  EXPECT_DOUBLE_EQ(q.AsDouble(0), 0.5);
  q.SetSQL("INSERT INTO PK (I) VALUES (:I)");
  q.SetParamText("I", "keine Zahl");
  EXPECT_THROW(q.ExecSQL(), EDatabaseError);
}

TEST_F(IBTarvoDb, DateTextsAreNormalisedOnlyWhenOpeningAndOnlyForDateInputs) {
  Exec("CREATE TABLE DTX (D DATE, V VARCHAR(20))");
  const int year = DateTime::Now().year;
  {
    TIBRQuery ins(db_);
    ins.SetSQL("INSERT INTO DTX (D, V) VALUES (:D, :V)");
    ins.SetParamDateTime("D", DateTime{year, 3, 15, 0, 0, 0, 0});
    ins.SetParamText("V", "1503");
    ins.ExecSQL();
    ins.SetParamDateTime("D", DateTime{2025, 3, 15, 14, 30, 0, 0});
    ins.SetParamText("V", "15.3.25 14.30");
    ins.ExecSQL();
    // ExecSQL passes the text as it is: the server cannot read "1503".
    ins.SetParamText("D", "1503");
    EXPECT_THROW(ins.ExecSQL(), EDatabaseError);
    db_.Commit();
  }
  struct Case {
    const char* entry;
    int count;
  };
  const Case cases[] = {{"1503", 1}, {"15.3.25 14.30", 1}, {"15.3.25 14:31", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    TIBRQuery q(db_);
    q.SetFormatSettings(German());
    q.SetSQL("SELECT COUNT(*) FROM DTX WHERE D = :D");
    q.SetParamText("D", c.entry);
    q.Open();
    EXPECT_EQ(q.AsInteger(0), c.count);
  }
  // The same entries feeding the VARCHAR column stay untouched.
  for (const char* entry : {"1503", "15.3.25 14.30"}) {
    SCOPED_TRACE(entry);
    TIBRQuery q(db_);
    q.SetSQL("SELECT COUNT(*) FROM DTX WHERE V = :V");
    q.SetParamText("V", entry);
    q.Open();
    EXPECT_EQ(q.AsInteger(0), 1);
  }
  // An unreadable date: the German message, the query stays closed.
  TIBRQuery q(db_);
  q.SetSQL("SELECT COUNT(*) FROM DTX WHERE D = :D OR V = :V");
  q.SetParamText("D", "32.13");
  q.SetParamText("V", "x");
  try {
    q.Open();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "Bitte geben Sie ein gültiges Datum ein, oder drücken Sie die [ESC]-Taste");
  }
  EXPECT_FALSE(q.Active());
  // A NULL date parameter is left alone.
  q.SetParamNull("D");
  q.Open();
  EXPECT_EQ(q.AsInteger(0), 0);
}

TEST_F(IBTarvoDb, RetainingCommitAndRollbackAsSeenFromASecondConnection) {
  Exec("CREATE TABLE TX (N INTEGER)");
  TIBRDATABASE other;
  other.SetDatabaseName(database_->ConnectionString());
  auto countSeenByOther = [&] {
    TIBRQuery q(other);
    q.SetSQL("SELECT COUNT(*) FROM TX");
    q.Open();
    const int64_t n = q.AsInteger(0);
    other.Commit();
    return n;
  };
  TIBRQuery q(db_);
  q.SetSQL("INSERT INTO TX VALUES (1)");
  q.ExecSQL();
  EXPECT_EQ(countSeenByOther(), 0);
  db_.CommitRetaining();
  EXPECT_TRUE(db_.InTransaction());
  EXPECT_EQ(countSeenByOther(), 1);

  q.ExecSQL();
  db_.RollbackRetaining();
  EXPECT_TRUE(db_.InTransaction());
  q.ExecSQL();
  db_.Commit();
  EXPECT_FALSE(db_.InTransaction());
  EXPECT_EQ(countSeenByOther(), 2);

  q.ExecSQL();
  db_.Rollback();
  EXPECT_EQ(countSeenByOther(), 2);
  // Closing the connection rolls back what was not committed.
  q.ExecSQL();
  db_.Close();
  EXPECT_EQ(countSeenByOther(), 2);
  // The query prepares again on the reopened connection.
  db_.Open();
  q.ExecSQL();
  db_.Commit();
  EXPECT_EQ(countSeenByOther(), 3);
}

TEST_F(IBTarvoDb, CursorsEndWithTheTransactionButNotWithRetainingCommit) {
  Exec("CREATE TABLE CUR (N INTEGER)");
  Exec("INSERT INTO CUR SELECT 1 FROM RDB$DATABASE UNION ALL SELECT 2 FROM RDB$DATABASE"
       " UNION ALL SELECT 3 FROM RDB$DATABASE");
  TIBRQuery q(db_);
  q.SetSQL("SELECT N FROM CUR ORDER BY N");
  q.Open();
  EXPECT_EQ(q.AsInteger(0), 1);
  db_.CommitRetaining();
  q.Next();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.AsInteger(0), 2);
  db_.Commit();
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.Eof());
  q.Next();  // harmless on a closed query
  q.Open();  // and the query opens again in a new transaction
  int n = 0;
  for (; !q.Eof(); q.Next()) ++n;
  EXPECT_EQ(n, 3);
}

TEST_F(IBTarvoDb, TriggerExceptionTextArrivesIntact) {
  Exec("CREATE TABLE TRG (N INTEGER)");
  database_->Execute("CREATE EXCEPTION E_TARVO 'Allgemeiner Fehler'");
  database_->Execute(
      "CREATE TRIGGER TRG_BI FOR TRG BEFORE INSERT AS BEGIN "
      "IF (NEW.N < 0) THEN EXCEPTION E_TARVO 'ERR:Bitte prüfen Sie die Menge (größer 0)'; END");
  TIBRQuery q(db_);
  q.SetSQL("INSERT INTO TRG VALUES (:N)");
  q.SetParamInteger("N", -1);
  try {
    q.ExecSQL();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    const std::string text = e.what();
    EXPECT_THAT(text, HasSubstr("\nERR:Bitte prüfen Sie die Menge (größer 0)\n")) << text;
    EXPECT_THAT(text, HasSubstr("E_TARVO"));
    EXPECT_NE(e.GdsCode(), 0);
  }
  q.SetParamInteger("N", 1);
  q.ExecSQL();  // the connection is fine afterwards
  EXPECT_EQ(q.RowsAffected(), 1);
}

TEST_F(IBTarvoDb, StatementErrorsCarryTheServersText) {
  struct Case {
    const char* sql;
    const char* fragment;
  };
  const Case cases[] = {
      {"SELEKT 1 FROM RDB$DATABASE", "Token unknown"},
      {"SELECT * FROM KEINE_TABELLE", "KEINE_TABELLE"},
      {"SELECT 1/0 FROM RDB$DATABASE", "divide"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    TIBRQuery q(db_);
    q.SetSQL(c.sql);
    try {
      q.Open();
      FAIL() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.fragment));
    }
    EXPECT_FALSE(q.Active());
  }
  TIBRQuery q(db_);
  q.SetSQL("SELECT 1 AS EINS FROM RDB$DATABASE");
  q.Open();
  EXPECT_EQ(q.FieldName(0), "EINS");
  EXPECT_EQ(q.FieldIndex("eins"), 0);
  EXPECT_EQ(q.FieldIndex("zwei"), -1);
  EXPECT_THROW(q.AsText(1), EDatabaseError);
  EXPECT_THROW(q.AsText(-1), EDatabaseError);
}

TEST_F(IBTarvoDb, QueryOutlivingItsConnectionObjectRaises) {
  auto db = std::make_unique<TIBRDATABASE>();
  db->SetDatabaseName(database_->ConnectionString());
  TIBRQuery q(*db);
  q.SetSQL("SELECT 1 FROM RDB$DATABASE");
  q.Open();
  db.reset();
  EXPECT_FALSE(q.Active());
  EXPECT_THROW(q.Open(), EDatabaseError);
}

TEST_F(IBTarvoDb, LargeBlobsStreamInSegments) {
  Exec("CREATE TABLE BIG (B BLOB SUB_TYPE 0)");
  const size_t size = 50u * 1024 * 1024 + 17;
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 4096) & 0xFF);
  {
    TIBRQuery q(db_);
    q.SetSQL("INSERT INTO BIG VALUES (:B)");
    q.SetParamBlob("B", bytes);
    q.ExecSQL();
    db_.Commit();
  }
  TIBRQuery q(db_);
  q.SetSQL("SELECT B FROM BIG");
  q.Open();
  size_t offset = 0, largest = 0;
  bool same = true;
  q.ReadBlob(0, [&](std::string_view chunk) {
    largest = std::max(largest, chunk.size());
    if (offset + chunk.size() > size || bytes.compare(offset, chunk.size(), chunk) != 0) same = false;
    offset += chunk.size();
  });
  EXPECT_EQ(offset, size);
  EXPECT_TRUE(same);
  EXPECT_LE(largest, 32u * 1024);
  EXPECT_TRUE(q.AsBytes(0) == bytes);
}

// Records what it was asked and answers as told.
class RecordingValidator : public IValidator {
 public:
  bool Validate(int message, const TIBRQuery& query, std::string& meldung) override {
    messages.push_back(message);
    statements.push_back(query.SQL());
    meldung = answerText;
    return accept;
  }
  bool accept = true;
  std::string answerText;
  std::vector<int> messages;
  std::vector<std::string> statements;
};

TEST_F(IBTarvoDb, ValidatorIsAskedBeforeInsertsAndUpdates) {
  Exec("CREATE TABLE VAL (N INTEGER)");
  auto validator = std::make_shared<RecordingValidator>();
  SetValidator(validator);
  struct Reset {
    ~Reset() { SetValidator(nullptr); }
  } reset;

  TIBRQuery q(db_);
  q.SetSQL("INSERT INTO VAL VALUES (1)");
  q.ExecSQL();
  q.SetSQL("UPDATE VAL SET N = 2");
  q.ExecSQL();
  q.SetSQL("SELECT N FROM VAL");
  q.Open();
  q.SetSQL("DELETE FROM VAL WHERE N = 99");
  q.ExecSQL();
  q.SetSQL("/* neu */ INSERT INTO VAL VALUES (7) RETURNING N");
  q.ExecSQL();
  EXPECT_EQ(q.AsInteger(0), 7);
  q.SetSQL("-- korrigieren\nUPDATE VAL SET N = 2 WHERE N = 7 RETURNING N");
  q.ExecSQL();
  EXPECT_EQ(validator->messages, (std::vector<int>{2015, 2014, 2015, 2014}));
  EXPECT_EQ(validator->statements[0], "INSERT INTO VAL VALUES (1)");

  // A veto with a text, and a silent one: nothing is written.
  validator->accept = false;
  validator->answerText = "Nicht erlaubt";
  q.SetSQL("INSERT INTO VAL VALUES (3)");
  try {
    q.ExecSQL();
    FAIL() << "no veto";
  } catch (const EValidationError& e) {
    EXPECT_STREQ(e.what(), "Nicht erlaubt");
  }
  validator->answerText.clear();
  q.SetSQL("UPDATE VAL SET N = 4");
  EXPECT_THROW(q.ExecSQL(), EAbort);

  // Tag -999 keeps the validator out.
  const size_t asked = validator->messages.size();
  q.SetTag(-999);
  q.SetSQL("INSERT INTO VAL VALUES (5)");
  q.ExecSQL();
  EXPECT_EQ(validator->messages.size(), asked);
  db_.Commit();

  q.SetSQL("SELECT N FROM VAL ORDER BY N");
  std::string rows;
  for (q.Open(); !q.Eof(); q.Next()) rows += q.AsText(0) + ";";
  EXPECT_EQ(rows, "2;2;5;");  // neither vetoed statement was run
}

TEST(IBTarvoConnectDb, ConnectionFailuresCarryTheServersText) {
  TestDatabase database(TestDatabase::Schema::None);
  struct Case {
    std::string connection;
    const char* fragment;
  };
  const Case cases[] = {
      {"localhost/3050:/var/lib/firebird/3.0/data/tarvo/gibt-es-nicht.fdb", "gibt-es-nicht.fdb"},
      {"localhost/1:" + database.Path(), "network request"},  // nothing listens there
      {"", "No database name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.connection);
    TIBRDATABASE db;
    db.SetDatabaseName(c.connection);
    try {
      db.Open();
      FAIL() << "connected";
    } catch (const EDatabaseError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.fragment));
    }
    EXPECT_FALSE(db.Connected());
  }
  // A wrong password, through the attachment the connection uses.
  detail::Attachment attachment;
  try {
    attachment.Attach(database.ConnectionString(), "SYSDBA", "falsch");
    FAIL() << "connected";
  } catch (const EDatabaseError& e) {
    EXPECT_THAT(e.what(), HasSubstr("password"));
  }
  EXPECT_FALSE(attachment.Attached());

  TIBRDATABASE db;
  db.SetDatabaseName(database.ConnectionString());
  db.Open();
  EXPECT_TRUE(db.Connected());
  db.Open();  // no-op
  db.Close();
  db.Close();
  EXPECT_FALSE(db.Connected());
}

}  // namespace
}  // namespace tarvo::db
