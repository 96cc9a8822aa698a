// The database layer against the real server: text forms of every column
// kind, parameters, transactions, errors, blobs and the validation hook.
#include "common/IBTarvo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

TEST_F(IBTarvoDb, DateTimeTextLeavesOutMidnight) {
  EXPECT_EQ(Scalar("SELECT CAST('01.02.2024' AS DATE) FROM RDB$DATABASE"), "01.02.2024");
  EXPECT_EQ(Scalar("SELECT CAST('01.02.2024 00:00:01' AS DATE) FROM RDB$DATABASE"),
            "01.02.2024 00:00:01");
}

}  // namespace
}  // namespace tarvo::db
