// tarvoreport as the Bridge server runs it: a copy of the program in a
// folder of its own with tarvoserver.ini and a job file, on a throwaway
// database holding the demo content. And the manual window.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QLabel>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/IBTarvo.h"
#include "common/Konfiguration.h"
#include "common/testing/TestDatabase.h"
#include "report/Haupt.h"
#include "report/testing/ReportTestSupport.h"

namespace tarvo::report {
namespace {

namespace fs = std::filesystem;
using tarvo::testing::TestDatabase;

using reporttest::ReadFile;
using reporttest::Shell;

// A started worker with a data folder of its own.
class Worker : public reporttest::ChildProcess {
 public:
  Worker(const fs::path& program, const std::vector<std::string>& args, const fs::path& home)
      : ChildProcess(program, args, {"XDG_DATA_HOME=" + home.string()}) {}
  int Wait(std::chrono::seconds limit = std::chrono::seconds(30)) { return ChildProcess::Wait(limit); }
};

class ReportWorkerDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new TestDatabase(TestDatabase::Schema::Tarvo);
    database_->ExecuteScript(ReadFile(fs::path(TARVO_SOURCE_DIR) / "scripts/demo/20-report.sql"));
    database_->Execute("CREATE TABLE BILDER (NR INTEGER, BILD BLOB SUB_TYPE 0)");
    database_->Execute("INSERT INTO BILDER VALUES (1, 'GIF89a kein Bild')");
    // A second booking for the parallel workers.
    database_->Execute("INSERT INTO BUCHUNGEN (NR, ANREDE, BRIEFANREDE, NAME, REISE, TEILNEHMER) "
                       "VALUES (200141, 'Herr', 'Sehr geehrter Herr Zweitkunde', 'Zweitkunde', 'Nordkap', 1)");
    database_->Execute("INSERT INTO BUCHUNGSPOSITIONEN VALUES (200141, 1, 'Hurtigruten Kabine', 1, 999, 999)");
  }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvoreport-e2e-" + std::to_string(::getpid()));
    reporttest::PrepareProgramFolder(dir_, TARVOREPORT_BIN, database_->ConnectionString());
    fs::create_directories(dir_ / "home");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteIni(const std::string& database) { reporttest::WriteServerIni(dir_, database); }
  void WriteJob(int slot, const std::string& lines) { reporttest::WriteJobFile(dir_, slot, lines); }
  static std::string Job(const std::string& name, const std::string& nr = "200140",
                         const std::string& art = "BESTAETIGUNG") {
    return reporttest::JobText(art, name, "pdf", nr);
  }
  int RunWorker(const std::vector<std::string>& args) { return Worker(dir_ / "tarvoreport", args, dir_ / "home").Wait(); }
  std::string Log() { return Cp1252ToUtf8(ReadFile(dir_ / "tarvoreport.log")); }
  std::vector<std::string> Files() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  void Store(int nr, const std::string& kind, const std::string& name, const std::string& xml,
             const std::string& doktyp = "F") {
    reporttest::StoreTemplate(database_->ConnectionString(), nr, "T-TOURISTIK", kind, name, xml, doktyp);
  }

  static TestDatabase* database_;
  fs::path dir_;
};
TestDatabase* ReportWorkerDb::database_ = nullptr;

TEST_F(ReportWorkerDb, TheDemoJobBecomesAMultiPagePdf) {
  WriteJob(0, Job("webformular"));
  ASSERT_EQ(RunWorker({"--web", "--pool=0"}), 0);
  const fs::path pdf = dir_ / "tarvoreport0.pdf";
  ASSERT_TRUE(fs::exists(pdf)) << Log();
  const std::string info = Shell("pdfinfo '" + pdf.string() + "'");
  EXPECT_NE(info.find("Author:          RUZIRuruvuvuv"), std::string::npos) << info;
  EXPECT_NE(info.find("Subject:         PDF Dokument"), std::string::npos) << info;
  EXPECT_NE(info.find("Creator:         FastReport"), std::string::npos) << info;
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
  const std::string p1 = Shell("pdftotext -f 1 -l 1 '" + pdf.string() + "' -");
  const std::string p2 = Shell("pdftotext -f 2 -l 2 '" + pdf.string() + "' -");
  for (const char* t : {"TARVO Reisen GmbH", "Buchungsbestätigung", "Jürgen und Dörte Weißenbörn",
                        "Große Bergstraße 221", "200140", "14.05.2027 bis 28.05.2027", "578,00 €", "Seite 1 von 2"})
    EXPECT_NE(p1.find(t), std::string::npos) << t << "\n" << p1;
  for (const char* t : {"TARVO Reisen GmbH", "Reisepreis gesamt", "9.223,80 €", "Seite 2 von 2",
                        "Es gelten unsere Reisebedingungen. Bitte führen Sie"})
    EXPECT_NE(p2.find(t), std::string::npos) << t << "\n" << p2;
  EXPECT_NE(Log().find("TRACE | Loading Print Parameters: " + (dir_ / "tarvoreport0.ini").string()), std::string::npos);
  EXPECT_NE(Log().find("TRACE | Print and Write PDF-File: " + pdf.string()), std::string::npos);
  EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();

  // --WEB alone is slot 0; letter case does not matter; other slots use their own files.
  // A temporary left by a worker that was killed while writing is removed.
  fs::remove(pdf);
  std::ofstream(dir_ / "tarvoreport0.pdf.tmp4711") << "halb";
  ASSERT_EQ(RunWorker({"--WEB"}), 0);
  EXPECT_TRUE(fs::exists(pdf));
  EXPECT_FALSE(fs::exists(dir_ / "tarvoreport0.pdf.tmp4711"));
  WriteJob(2, Job("WEBFORMULAR"));
  ASSERT_EQ(RunWorker({"--Web", "--POOL=2"}), 0);
  EXPECT_TRUE(fs::exists(dir_ / "tarvoreport2.pdf"));
  // A booking the template cancels for: no file, no error.
  WriteJob(3, Job("webformular", "1"));
  ASSERT_EQ(RunWorker({"--WEB", "--POOL=3"}), 0);
  EXPECT_FALSE(fs::exists(dir_ / "tarvoreport3.pdf"));
  EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
}

TEST_F(ReportWorkerDb, BadInputEndsInTwoErrorLinesAndNoFile) {
  const std::string page = "<page><band type=\"masterdata\" dataset=\"B\" height=\"10\">"
                           "<picture name=\"Foto\" source=\"B.BILD\" width=\"20\" height=\"10\"/></band></page>";
  Store(901, "FEHLER", "falschertyp", "<report/>", "F ");
  Store(902, "FEHLER", "ohneeltern", "<report parent=\"T-TOURISTIK_BASIS_weg\"/>");
  Store(903, "FEHLER", "kaputt", "<report><page><band type=\"title\"></page></report>");
  Store(904, "FEHLER", "skript", "<report><script>local t = nil; t.x = 1</script></report>");
  Store(905, "FEHLER", "sql", "<report><dataset name=\"D\" sql=\"SELECT * FROM GIBTESNICHT\"/></report>");
  Store(906, "FEHLER", "bild", "<report><dataset name=\"B\" sql=\"SELECT BILD FROM BILDER\"/>" + page + "</report>");
  Store(907, "FEHLER", "param", "<report><dataset name=\"D\" sql=\"SELECT * FROM BUCHUNGEN WHERE NR = :NUMMER\"><param name=\"NUMMER\"/></dataset></report>");
  const struct {
    std::string job;
    std::string message;  // the text after "Printing Error: "
    std::string formular;
    std::string database = {};  // another DATENBANKPFAD for this case
  } cases[] = {
      {"BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\n",
       "Das Formular BEREICH=T-TOURISTIK , ART=BESTAETIGUNG ,NAME= ist nicht vorhanden",
       "bereich=T-TOURISTIK, art=BESTAETIGUNG, name="},
      {Job("gibtsnicht"), "Das Formular BEREICH=T-TOURISTIK , ART=BESTAETIGUNG ,NAME=gibtsnicht ist nicht vorhanden",
       "bereich=T-TOURISTIK, art=BESTAETIGUNG, name=gibtsnicht"},
      {Job("falschertyp", "1", "FEHLER"), "Das Formular BEREICH=T-TOURISTIK , ART=FEHLER ,NAME=falschertyp hat das falsche Format",
       "bereich=T-TOURISTIK, art=FEHLER, name=falschertyp"},
      {Job("ohneeltern", "1", "FEHLER"), "Die zugehörige Vorlage (T-TOURISTIK_BASIS_weg) ist nicht mehr vorhanden.",
       "bereich=T-TOURISTIK, art=FEHLER, name=ohneeltern"},
      {Job("kaputt", "1", "FEHLER"), "Vorlage fehlerhaft (Zeile 1)", "name=kaputt"},
      {Job("skript", "1", "FEHLER"), "Script:1:", "name=skript"},
      {Job("sql", "1", "FEHLER"), "Dynamic SQL Error", "name=sql"},
      {Job("bild", "1", "FEHLER"), "Bild Foto: Die Bilddaten sind kein lesbares Bild", "name=bild"},
      {Job("param", "1", "FEHLER"), "Der erforderliche Parameter NUMMER ist nicht vorhanden", "name=param"},
      {"BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=webformular\r\nFORMAT=pdf\r\n",
       "Der erforderliche Parameter _NR ist nicht vorhanden", "name=webformular"},
      // No such database file; no server behind the port.
      {Job("webformular"), "", "bereich=T-TOURISTIK, art=BESTAETIGUNG, name=webformular",
       "localhost/3050:" + TestDatabase::DataFolder() + "/gibt-es-nicht.fdb"},
      {Job("webformular"), "", "bereich=T-TOURISTIK, art=BESTAETIGUNG, name=webformular",
       "localhost/1:" + TestDatabase::DataFolder() + "/gibt-es-nicht.fdb"},
  };
  int slot = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job);
    ++slot;
    fs::remove(dir_ / "tarvoreport.log");
    if (!c.database.empty()) WriteIni(c.database);
    WriteJob(slot, c.job);
    EXPECT_EQ(RunWorker({"--WEB", "--POOL=" + std::to_string(slot)}), 0);
    EXPECT_FALSE(fs::exists(dir_ / ("tarvoreport" + std::to_string(slot) + ".pdf")));
    const std::string log = Log();
    const size_t e1 = log.find("ERROR | Printing Error: " + c.message);
    ASSERT_NE(e1, std::string::npos) << log;
    const size_t e2 = log.find("ERROR | Formular: ", e1);
    ASSERT_NE(e2, std::string::npos) << log;
    EXPECT_NE(log.find(c.formular, e2), std::string::npos) << log;
    EXPECT_GT(log.size(), e2);
  }
  WriteIni(database_->ConnectionString());
  // The job file of a slot that has none: the same two lines.
  fs::remove(dir_ / "tarvoreport.log");
  EXPECT_EQ(RunWorker({"--WEB", "--POOL=99"}), 0);
  EXPECT_NE(Log().find("ERROR | Printing Error: "), std::string::npos);
  EXPECT_NE(Log().find("ERROR | Formular: bereich=, art=, name="), std::string::npos);
  // Nothing half-written anywhere.
  for (const auto& f : Files()) EXPECT_EQ(f.find(".pdf"), std::string::npos) << f;
}

TEST_F(ReportWorkerDb, TwoWorkersOnDifferentSlotsStayApart) {
  WriteJob(1, Job("webformular", "200140"));
  WriteJob(2, Job("webformular", "200141"));
  const int rounds = 4;
  for (int r = 0; r < rounds; ++r) {
    Worker a(dir_ / "tarvoreport", {"--WEB", "--POOL=1"}, dir_ / "home");
    Worker b(dir_ / "tarvoreport", {"--WEB", "--POOL=2"}, dir_ / "home");
    ASSERT_EQ(a.Wait(), 0);
    ASSERT_EQ(b.Wait(), 0);
    const std::string one = Shell("pdftotext '" + (dir_ / "tarvoreport1.pdf").string() + "' -");
    const std::string two = Shell("pdftotext '" + (dir_ / "tarvoreport2.pdf").string() + "' -");
    EXPECT_NE(one.find("Weißenbörn"), std::string::npos);
    EXPECT_EQ(one.find("Zweitkunde"), std::string::npos);
    EXPECT_NE(two.find("Zweitkunde"), std::string::npos);
    EXPECT_NE(two.find("Hurtigruten"), std::string::npos);
    EXPECT_EQ(two.find("Weißenbörn"), std::string::npos);
    fs::remove(dir_ / "tarvoreport1.pdf");
    fs::remove(dir_ / "tarvoreport2.pdf");
  }
  // Every line of every worker reached the shared log, whole.
  std::istringstream lines(Log());
  int count[3] = {0, 0, 0};
  for (std::string line; std::getline(lines, line);) {
    for (int s = 1; s <= 2; ++s) {
      const std::string n = std::to_string(s);
      if (line.find("TRACE | Loading Print Parameters: " + (dir_ / ("tarvoreport" + n + ".ini")).string() + "\r") != std::string::npos ||
          line.find("TRACE | Print and Write PDF-File: " + (dir_ / ("tarvoreport" + n + ".pdf")).string() + "\r") != std::string::npos)
        ++count[s];
    }
  }
  EXPECT_EQ(count[1], 2 * rounds) << Log();
  EXPECT_EQ(count[2], 2 * rounds) << Log();
}

TEST_F(ReportWorkerDb, TheManualWindowExportsWithItsInitialTexts) {
  static int argc = 1;
  static char name[] = "report_e2e_tests";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
  Konfiguration().BasisPfad = dir_.string() + "/";
  ::setenv("XDG_DATA_HOME", (dir_ / "home").c_str(), 1);
  THauptForm form(dir_.string() + "/");
  EXPECT_EQ(form.windowTitle(), "TARVOreport");
  EXPECT_EQ(form.BereichEdit->text(), "T-TOURISTIK");
  EXPECT_EQ(form.ArtEdit->text(), "BESTAETIGUNG");
  EXPECT_EQ(form.FormularEdit->text(), "webformular");
  EXPECT_EQ(form.PdfButton->text(), "PDF speichern");
  auto* version = form.Statuszeile->findChild<QLabel*>("VersionPanel");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text().toStdString(), "Version " + Konfiguration().GetAppVersion());
  // Pairs with an empty side are skipped; names and values are trimmed.
  form.ParamNameEdits[1]->setText(" LEER ");
  form.ParamWertEdits[1]->setText("   ");
  form.ParamNameEdits[2]->setText(" X ");
  form.ParamWertEdits[2]->setText(" 2024-02-29T10:15:00 ");
  const ExternalParams params = form.ManualParams();
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params[0].name, "_NR");
  EXPECT_EQ(params[0].value, Value("200140"));
  EXPECT_EQ(params[1].name, "X");
  EXPECT_EQ(params[1].value, Value("2024-02-29T10:15:00"));  // no date recognition here
  form.ExportManually();
  EXPECT_FALSE(form.Datenbank.Connected());
  const std::string text = Shell("pdftotext '" + (dir_ / "tarvoreport.pdf").string() + "' -");
  EXPECT_NE(text.find("Weißenbörn"), std::string::npos) << text;
  EXPECT_NE(text.find("Seite 2 von 2"), std::string::npos) << text;
  // A failure raises and still closes the connection.
  form.FormularEdit->setText("gibtsnicht");
  EXPECT_THROW(form.ExportManually(), std::runtime_error);
  EXPECT_FALSE(form.Datenbank.Connected());
}

}  // namespace
}  // namespace tarvo::report
