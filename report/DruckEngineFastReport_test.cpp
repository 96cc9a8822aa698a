// The template store, the parameters and the export against a real server.
#include "report/DruckEngineFastReport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/testing/TestDatabase.h"
#include "report/engine/TextMeasure.h"
#include "report/testing/ReportTestSupport.h"

namespace tarvo::report {
namespace {

using tarvo::testing::TestDatabase;
namespace fs = std::filesystem;

using reporttest::Shell;

std::string Report(const std::string& body, const std::string& attrs = "") {
  return "<report" + attrs + ">" + body + "</report>";
}

class EngineDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new TestDatabase(TestDatabase::Schema::Tarvo);
    database_->Execute("CREATE TABLE KUNDEN (NR INTEGER, NAME VARCHAR(40), SEIT DATE)");
    db::TIBRDATABASE d;
    d.SetDatabaseName(database_->ConnectionString());
    db::TIBRQuery q(d);
    q.SetSQL("INSERT INTO KUNDEN VALUES (:NR, :NAME, :SEIT)");
    q.SetParamInteger("NR", 4711);
    q.SetParamText("NAME", "Müller");
    q.SetParamDateTime("SEIT", DateTime{2024, 2, 29, 10, 15, 0, 0});
    q.ExecSQL();
    q.SetParamInteger("NR", 4712);
    q.SetParamText("NAME", "Schmidt");
    q.SetParamDateTime("SEIT", DateTime{2024, 3, 1});
    q.ExecSQL();
    d.Commit();
  }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }
  void SetUp() override {
    EnsureGuiApplication();
    db_.SetDatabaseName(database_->ConnectionString());
    dir_ = fs::temp_directory_path() / ("engine-db-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    database_->Execute("DELETE FROM VORLAGEN");
    database_->Execute("DELETE FROM T_KONFIGURATION");
  }
  void TearDown() override {
    db_.Close();
    fs::remove_all(dir_);
  }
  void Store(int nr, const std::string& area, const std::string& kind, const std::string& name,
             const std::string& xml, const std::string& doktyp = "F") {
    reporttest::StoreTemplate(database_->ConnectionString(), nr, area, kind, name, xml, doktyp);
  }
  std::string Failure(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(kein Fehler)";
  }
  std::string Out(const char* name = "out.pdf") { return (dir_ / name).string(); }

  static TestDatabase* database_;
  db::TIBRDATABASE db_;
  fs::path dir_;
};
TestDatabase* EngineDb::database_ = nullptr;

TEST_F(EngineDb, LookupByAreaKindAndWholeNameWithTheStoresMessages) {
  Store(1, "T-TOURISTIK", "BRIEF", "Angebot", Report("", " name=\"eins\""));
  Store(2, "T-TOURISTIK", "BRIEF", "Angebot Zusatz", Report("", " name=\"zwei\""));
  Store(3, "T-TOURISTIK", "BRIEF", "Alt", Report("", " name=\"alt\""), "W");
  Store(4, "T-TOURISTIK", "BRIEF", "Blank", Report("", " name=\"blank\""), "F ");
  const struct {
    const char* area;
    const char* kind;
    const char* name;
    const char* loaded;  // or the message
  } cases[] = {
      {"T-TOURISTIK", "BRIEF", "ANGEBOT", "eins"},
      {"T-TOURISTIK", "BRIEF", "angebot zusatz", "zwei"},
      {"T-TOURISTIK", "BRIEF", "Angebot Z",
       "Das Formular BEREICH=T-TOURISTIK , ART=BRIEF ,NAME=Angebot Z ist nicht vorhanden"},
      {"T-TOURISTIK", "BRIEF", "Alt", "Das Formular BEREICH=T-TOURISTIK , ART=BRIEF ,NAME=Alt ist nicht vorhanden"},
      {"T-TOURISTIK", "BRIEF", "", "Das Formular BEREICH=T-TOURISTIK , ART=BRIEF ,NAME= ist nicht vorhanden"},
      {"T-TOURISTIK", "RECHNUNG", "Angebot", "Das Formular BEREICH=T-TOURISTIK , ART=RECHNUNG ist nicht vorhanden"},
      {"", "", "", "Das Formular BEREICH= , ART= ist nicht vorhanden"},
      // The database finds "F " for 'F'; the program's own check does not.
      {"T-TOURISTIK", "BRIEF", "Blank", "Das Formular BEREICH=T-TOURISTIK , ART=BRIEF ,NAME=Blank hat das falsche Format"},
  };
  for (const auto& c : cases) {
    TDruckEngineFastReportForm form;
    form.SetDatabase(db_);
    const std::string msg = Failure([&] { form.LoadJobTemplate(c.area, c.kind, c.name); });
    if (msg == "(kein Fehler)") EXPECT_EQ(form.FastReport().name, c.loaded) << c.name;
    else EXPECT_EQ(msg, c.loaded) << c.name;
  }
  // Two matching configuration rows make the template query itself fail.
  database_->Execute("INSERT INTO T_KONFIGURATION VALUES ('VORSCHAUDRUCKEN', 'System', 'JA')");
  database_->Execute("INSERT INTO T_KONFIGURATION VALUES ('VORSCHAUDRUCKEN', 'System', 'NEIN')");
  TDruckEngineFastReportForm form;
  form.SetDatabase(db_);
  EXPECT_NE(Failure([&] { form.LoadJobTemplate("T-TOURISTIK", "BRIEF", "Angebot"); }).find("singleton"),
            std::string::npos);
}

TEST_F(EngineDb, ParentsComeFromTheUserFolderOrTheParentQuery) {
  Store(1, "T-TOURISTIK", "BRIEF", "kind", Report("<script>kind=1</script>", " name=\"kind\" parent=\"T-TOURISTIK_BASIS_Firmen_Kopf_2\""));
  Store(2, "T-TOURISTIK", "BASIS", "Firmen_Kopf_2", Report("<script>db=1</script>", " parent=\"X_Y_z\""), "W");
  Store(3, "X", "Y", "z", Report("<script>wurzel=1</script>"));
  {
    // The name after the second underscore keeps its underscores; no DOKTYP condition.
    TDruckEngineFastReportForm form;
    form.SetDatabase(db_);
    form.SetUserTemplateFolder((dir_ / "leer/").string());
    form.LoadJobTemplate("T-TOURISTIK", "BRIEF", "kind");
    EXPECT_EQ(form.FastReport().script, "wurzel=1\ndb=1\nkind=1");
  }
  {
    // A file in the per-user folder wins over the database row.
    std::ofstream(dir_ / "T-TOURISTIK_BASIS_Firmen_Kopf_2.fr3") << Report("<script>datei=1</script>");
    TDruckEngineFastReportForm form;
    form.SetDatabase(db_);
    form.SetUserTemplateFolder(dir_.string() + "/");
    form.LoadJobTemplate("T-TOURISTIK", "BRIEF", "kind");
    EXPECT_EQ(form.FastReport().script, "datei=1\nkind=1");
  }
  database_->Execute("DELETE FROM VORLAGEN WHERE NR = 3");
  TDruckEngineFastReportForm form;
  form.SetDatabase(db_);
  form.SetUserTemplateFolder((dir_ / "leer/").string());
  EXPECT_EQ(Failure([&] { form.LoadJobTemplate("T-TOURISTIK", "BRIEF", "kind"); }),
            "Die zugehörige Vorlage (X_Y_z) ist nicht mehr vorhanden.");
  EXPECT_EQ(Failure([&] { form.FastReportLoadTemplate("ohneTrenner"); }),
            "Die zugehörige Vorlage (ohneTrenner) ist nicht mehr vorhanden.");
}

TEST(AssignParams, MatchingCompletenessAndThePARAMSText) {
  const DateTime when{2024, 2, 29, 10, 15, 0, 0};
  auto def = [] {
    return ReadTemplate(Report(R"X(
      <dataset name="A"><param name="NR"/><param name="_nr"/><param name="UserName" value="alt"/></dataset>
      <dataset name="B"><param name="AB" type="datetime"/><param name="X" expression="A.NR"/>
                        <param name="FEST" value="7"/></dataset>)X"), nullptr);
  };
  TDruckEngineFastReportForm form;
  ReportDef r = def();
  ExternalParams job = {{"_NR", Value("4711")}, {"NR", Value("4711")}, {"AB", Value(when)}, {"X", Value("nie")}};
  ASSERT_TRUE(form.AssignParams(job, r));
  const auto& a = r.dataSets[0].params;
  const auto& b = r.dataSets[1].params;
  EXPECT_EQ(a[0].value, Value("4711"));
  EXPECT_EQ(a[1].value, Value("4711"));
  EXPECT_EQ(a[2].value, Value("?"));  // no signed-in user in the worker
  EXPECT_EQ(b[0].value, Value(when));
  EXPECT_EQ(b[0].type, DataType::DateTime);
  EXPECT_TRUE(b[1].value.IsNull());  // an expression is left alone
  EXPECT_EQ(b[1].expression, "A.NR");
  EXPECT_EQ(b[2].value, Value("7"));  // stored value kept
  const std::string params = r.variables.at(0).second.Text();
  EXPECT_EQ(params, "_NR=4711\rNR=4711\rAB=29.02.2024 10:15:00\rX=nie\rUSERNAME=\rLOGINNAME=\r");

  // The last match wins.
  r = def();
  form.AssignParams({{"NR", Value("1")}, {"_NR", Value("x")}, {"NR", Value("2")}, {"AB", Value("y")}}, r);
  EXPECT_EQ(r.dataSets[0].params[0].value, Value("2"));
  EXPECT_EQ(r.dataSets[0].params[1].value, Value("2"));  // _NR matches NR too

  // Missing values: the first one in data-set and parameter order is named;
  // with an empty list USERNAME keeps its stored value.
  const struct {
    ExternalParams params;
    const char* message;
  } failing[] = {
      {{}, "Der erforderliche Parameter NR ist nicht vorhanden"},
      {{{"NR", Value("1")}}, "Der erforderliche Parameter AB ist nicht vorhanden"},
      {{{"NR", Value("")}, {"AB", Value("x")}}, "Der erforderliche Parameter NR ist nicht vorhanden"},
  };
  for (const auto& f : failing) {
    r = def();
    try {
      form.AssignParams(f.params, r);
      ADD_FAILURE() << f.message;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), f.message);
    }
  }
  r = ReadTemplate(Report("<dataset name=\"A\"><param name=\"USERNAME\"/></dataset>"), nullptr);
  EXPECT_THROW(form.AssignParams({}, r), std::runtime_error);
  r = ReadTemplate(Report(""), nullptr);
  form.AssignParams({}, r);
  EXPECT_EQ(r.variables.at(0).second.Text(), "Es wurden keine externen Parameter übergebenUSERNAME=\rLOGINNAME=\r");
}

TEST_F(EngineDb, ExportsPreparedDataAndHonoursFormatAndCancellation) {
  const std::string body = R"X(
    <dataset name="K"><sql>SELECT NR, NAME, SEIT FROM KUNDEN WHERE NR = :NR</sql><param name="NR"/></dataset>
    <dataset name="P"><sql>SELECT COUNT(*) AS N FROM KUNDEN WHERE SEIT >= :AB</sql><param name="AB" type="datetime"/></dataset>
    <script>if K.NAME == "Schmidt" then Cancel() end</script>
    <dialog name="Abfrage"><edit name="E"/></dialog>
    <page><band type="masterdata" dataset="K" height="8">
      <text width="150" height="6">Kunde [K.NR] [K.NAME] seit [K.SEIT] ([P.N]) [PARAMS:sub(1, 8)]</text>
    </band></page>)X";
  Store(1, "T-TOURISTIK", "BRIEF", "Kunde", Report(body, " name=\"Kunde\""));
  const ExternalParams job = {{"_NR", Value("4711")}, {"NR", Value("4711")}, {"AB", Value(DateTime{2024, 3, 1})}};
  for (const char* format : {"pdf", "Pdf", "PDF"}) {
    const std::string out = Out();
    ExportReportToFile(db_, "T-TOURISTIK", "BRIEF", "kunde", job, format, out);
    const std::string text = Shell("pdftotext '" + out + "' -");
    EXPECT_NE(text.find("Kunde 4711 Müller seit 29.02.2024 10:15:00 (1) _NR=4711"), std::string::npos) << text;
    fs::remove(out);
  }
  for (const char* format : {"xlsx", ""}) {
    ExportReportToFile(db_, "T-TOURISTIK", "BRIEF", "kunde", job, format, Out());
    EXPECT_FALSE(fs::exists(Out())) << format;
  }
  // Cancelled by the script: no file, no error.
  ExportReportToFile(db_, "T-TOURISTIK", "BRIEF", "Kunde", {{"NR", Value("4712")}, {"AB", Value("01.01.2000")}}, "pdf", Out());
  EXPECT_FALSE(fs::exists(Out()));

  // Errors of the data sets and scripts arrive with their own message.
  Store(2, "T-TOURISTIK", "BRIEF", "Kaputt", Report("<dataset name=\"K\" sql=\"SELECT NIX FROM KUNDEN\"/>"));
  EXPECT_NE(Failure([&] { ExportReportToFile(db_, "T-TOURISTIK", "BRIEF", "Kaputt", {}, "pdf", Out()); }).find("NIX"),
            std::string::npos);
  Store(3, "T-TOURISTIK", "BRIEF", "Skript", Report("<script>local x = nil; return x.y</script>"));
  EXPECT_NE(Failure([&] { ExportReportToFile(db_, "T-TOURISTIK", "BRIEF", "Skript", {}, "pdf", Out()); }).find("Script:1:"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(Out()));
}

}  // namespace
}  // namespace tarvo::report
