// Every export format through the real tarvoreport in web print mode, on a
// throwaway database with the demo content: the job's FORMAT picks the
// format, the result is always tarvoreportN.pdf, and each file reads back
// with an independent reader. Also the script functions of the demo and a
// function error that fails the job.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/IBTarvo.h"
#include "common/testing/TestDatabase.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tarvo::testing::TestDatabase;

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string Shell(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) ::pclose(p);
  return out;
}

nlohmann::json Check(const std::string& kind, const fs::path& file) {
  const std::string script = std::string(TARVO_SOURCE_DIR) + "/tests/report/check_export.py";
  const std::string out = Shell("python3 '" + script + "' " + kind + " '" + file.string() + "' 2>&1");
  try {
    return nlohmann::json::parse(out);
  } catch (const std::exception&) {
    ADD_FAILURE() << "reader failed: " << out;
    return nlohmann::json::object();
  }
}

// Runs the program headless in `folder` and returns its exit code (-1 when
// it had to be killed after 60 s).
int RunProgram(const fs::path& program, const std::vector<std::string>& args) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0)
      continue;
    env.push_back(v);
  }
  std::vector<char*> envp, argv;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::string prog = program.string();
  std::vector<std::string> copy = args;
  argv.push_back(prog.data());
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, prog.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -2;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& words) {
  size_t at = 0;
  for (const auto& w : words) {
    const size_t found = text.find(w, at);
    if (found == std::string::npos)
      return testing::AssertionFailure() << "\"" << w << "\" missing after offset " << at << " in:\n" << text;
    at = found + w.size();
  }
  return testing::AssertionSuccess();
}

std::string Jpeg(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(QColor(200, 200, 200));
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPEG", 95);
  return bytes.toStdString();
}

class ExportFormatsWorkerDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new TestDatabase(TestDatabase::Schema::Tarvo);
    database_->ExecuteScript(ReadFile(fs::path(TARVO_SOURCE_DIR) / "scripts/demo/20-report.sql"));
    database_->Execute("CREATE TABLE GERAET (NR INTEGER, BILD BLOB SUB_TYPE 0, DEFINITION BLOB SUB_TYPE 1)");
    database_->Execute("CREATE TABLE BELEGT (PLATZNUMMER VARCHAR(10))");
    database_->Execute("INSERT INTO BELEGT VALUES ('12')");
    tarvo::db::TIBRDATABASE d;
    d.SetDatabaseName(database_->ConnectionString());
    tarvo::db::TIBRQuery q(d);
    q.SetSQL("INSERT INTO GERAET VALUES (1, :B, :D)");
    q.SetParamBlob("B", Jpeg(400, 200));
    q.SetParamText("D", "[Bus]\r\n\"TXT=11\"^X=200^Y=100\r\n\"TXT=12\"^X=50^Y=50");
    q.ExecSQL();
    Store(q, 9001, "RUNDUNG", "zugenau", R"(<report name="zugenau"><page><band type="title" height="10">
        <text width="50" height="6">[Aufrunden(1.5, 21)]</text></band></page></report>)");
    Store(q, 9002, "SITZPLAN", "bus", R"(<report name="bus">
        <dataset name="Geraet" sql="SELECT * FROM GERAET"/><dataset name="Belegt" sql="SELECT * FROM BELEGT"/>
        <page margin="10"><band type="masterdata" dataset="Geraet" height="60">
          <picture name="Plan" width="100" height="50" source="Geraet.BILD"/>
          <text name="Mark" top="52" width="100" height="6">[Zeigebelegt("Plan", Geraet.DEFINITION, "Belegt")]</text>
        </band></page></report>)");
    d.Commit();
  }
  static void Store(tarvo::db::TIBRQuery& q, int nr, const std::string& kind, const std::string& name,
                    const std::string& xml) {
    q.SetSQL("INSERT INTO VORLAGEN (NR, BEREICH, ART, NAME, DOKTYP, HAUPTTEXT) VALUES (:NR, 'T-TOURISTIK', :A, :N, 'F', :H)");
    q.SetParamInteger("NR", nr);
    q.SetParamText("A", kind);
    q.SetParamText("N", name);
    q.SetParamBlob("H", xml);
    q.ExecSQL();
  }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvoreport-formats-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(TARVOREPORT_BIN, dir_ / "tarvoreport");
    std::ofstream(dir_ / "tarvoserver.ini", std::ios::binary)
        << "DATENBANKPFAD=" << database_->ConnectionString() << "\r\nTRACELOG=JA\r\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the job in slot 3; returns the output file.
  fs::path RunJob(const std::string& format, const std::string& kind = "BESTAETIGUNG",
                  const std::string& name = "webformular") {
    std::ofstream(dir_ / "tarvoreport3.ini", std::ios::binary)
        << tarvo::Utf8ToCp1252("BEREICH=T-TOURISTIK\r\nART=" + kind + "\r\nNAME=" + name + "\r\nFORMAT=" + format +
                               "\r\nPARAM__NR=200140\r\nPARAM_NR=200140\r\n");
    EXPECT_EQ(RunProgram(dir_ / "tarvoreport", {"--WEB", "--POOL=3"}), 0);
    return dir_ / "tarvoreport3.pdf";
  }
  std::string Log() { return tarvo::Cp1252ToUtf8(ReadFile(dir_ / "tarvoreport.log")); }
  // Files of the folder besides the program, its configuration, job and log.
  std::vector<std::string> Extra() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string n = e.path().filename().string();
      if (n != "tarvoreport" && n != "tarvoserver.ini" && n != "tarvoreport3.ini" && n != "tarvoreport.log" &&
          n != "tarvoreport3.pdf")
        out.push_back(n);
    }
    return out;
  }

  // What the demo's functions put on its first page, in reading order.
  static std::vector<std::string> DemoWords() {
    return {"Frau", "Jürgen und Dörte Weißenbörn", "Große Bergstraße 221", "22767 Hamburg", "200140",
            "14.05.2027 bis 28.05.2027 (KW 19)"};
  }

  static TestDatabase* database_;
  fs::path dir_;
};
TestDatabase* ExportFormatsWorkerDb::database_ = nullptr;

TEST_F(ExportFormatsWorkerDb, EveryFormatIsWrittenToTheResultFileAndReadsBack) {
  struct Case {
    const char* format;
    const char* magic;
  } cases[] = {{"pdf", "%PDF-"}, {"RTF", "{\\rtf1"}, {"Csv", "TARVO Reisen GmbH"}, {"jpg", "\xFF\xD8\xFF"},
               {"html", "<!DOCTYPE HTML PUBLIC"}, {"htm", "<!DOCTYPE html>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    fs::remove(dir_ / "tarvoreport3.pdf");
    const fs::path out = RunJob(c.format);
    ASSERT_TRUE(fs::exists(out)) << Log();
    EXPECT_EQ(ReadFile(out).rfind(c.magic, 0), 0u);
    EXPECT_EQ(Extra(), std::vector<std::string>{});
  }
  EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
}

TEST_F(ExportFormatsWorkerDb, TheDemoShowsItsFunctionsInEveryReader) {
  const std::string words[] = {"Achthundert Euro", "aufgerundet: 4.212,00 €"};
  {
    const nlohmann::json r = Check("rtf", RunJob("rtf"));
    const std::string text = r.value("text", "");
    EXPECT_TRUE(InOrder(text, DemoWords()));
    for (const auto& w : words) EXPECT_NE(text.find(w), std::string::npos) << w;
    EXPECT_TRUE(InOrder(text, {"Seite 1 von 2", "Reisepreis gesamt", "Seite 2 von 2"}));
  }
  {
    const nlohmann::json r = Check("csv", RunJob("csv"));
    const auto rows = r.value("rows", std::vector<std::vector<std::string>>{});
    std::string all;
    for (const auto& row : rows) {
      for (const auto& f : row) all += f + "|";
      all += "\n";
    }
    // The address block and the info box beside it share their rows.
    EXPECT_TRUE(InOrder(all, {"\nFrau|Buchung|200140|\n", "Jürgen und Dörte Weißenbörn|Datum|11.01.2027|\n",
                              "Große Bergstraße 221|Berater|", "\n22767 Hamburg|\n", "Zeitraum|14.05.2027 bis 28.05.2027 (KW 19)|\n"}))
        << all;
    EXPECT_NE(all.find("\n1|Flug Hamburg – Lissabon, Economy, inkl. 23 kg Freigepäck|2|289,00 €|578,00 €|\n"),
              std::string::npos)
        << all;
  }
  for (const char* format : {"html", "htm"}) {
    const nlohmann::json r = Check("html", RunJob(format));
    std::string all;
    for (const auto& t : r.value("texts", std::vector<std::string>{})) all += t + "\n";
    EXPECT_TRUE(InOrder(all, DemoWords())) << format;
    for (const auto& w : words) EXPECT_NE(all.find(w), std::string::npos) << format << " " << w;
    EXPECT_EQ(r.value("external", std::vector<std::string>{"?"}), std::vector<std::string>{}) << format;
    EXPECT_EQ(r.value("unclosed", std::vector<std::string>{"?"}), std::vector<std::string>{}) << format;
    EXPECT_FALSE(r.value("images", std::vector<std::vector<int>>{}).empty()) << format << ": the letterhead logo";
  }
  {
    const fs::path out = RunJob("jpg");
    QImageReader reader(QString::fromStdString(out.string()), "jpeg");
    const QImage img = reader.read();
    EXPECT_EQ(img.size(), QSize(794, 2 * 1123)) << reader.errorString().toStdString();
  }
  EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
}

TEST_F(ExportFormatsWorkerDb, UnsupportedFormatWritesNothing) {
  EXPECT_FALSE(fs::exists(RunJob("xlsx")));
  EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
}

TEST_F(ExportFormatsWorkerDb, RoundingOutOfRangeFailsTheJobWithItsMessage) {
  EXPECT_FALSE(fs::exists(RunJob("pdf", "RUNDUNG", "zugenau")));
  const std::string log = Log();
  EXPECT_NE(log.find("ERROR | Printing Error: "), std::string::npos) << log;
  EXPECT_NE(log.find("Aufrunden: Fehler bei Bereichsprüfung (genauigkeit 21 liegt nicht zwischen -20 und 20)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR | Formular: bereich=T-TOURISTIK, art=RUNDUNG, name=zugenau"), std::string::npos) << log;
}

TEST_F(ExportFormatsWorkerDb, SeatMapFromTheDatabaseIsMarkedInTheJpeg) {
  const fs::path out = RunJob("jpg", "SITZPLAN", "bus");
  ASSERT_TRUE(fs::exists(out)) << Log();
  const QImage img(QString::fromStdString(out.string()), "jpeg");
  ASSERT_FALSE(img.isNull());
  // The 400 x 200 picture fills 100 x 50 mm from the 10 mm margin: seat 12
  // at (50, 50) lands near pixel (85, 85) at 96 dpi, seat 11 (free) at
  // (227, 132).
  const double scale = 100.0 / 400 * 96 / 25.4, origin = 10 * 96 / 25.4;
  // A corner of the red square (its middle holds the number in white).
  const QColor seat = img.pixelColor(static_cast<int>(origin + 38 * scale), static_cast<int>(origin + 38 * scale));
  EXPECT_GT(seat.red(), 200);
  EXPECT_LT(seat.green(), 60);
  const QColor free = img.pixelColor(static_cast<int>(origin + 200 * scale), static_cast<int>(origin + 100 * scale));
  EXPECT_NEAR(free.red(), 200, 15);
  EXPECT_NEAR(free.green(), 200, 15);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
