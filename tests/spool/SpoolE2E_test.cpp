// "/v2/report" end to end: the real listener on loopback, the spooler, the
// real tarvoreport on a throwaway database with the demo template, and
// shell scripts in its place where a worker has to crash, hang or vanish.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "common/testing/TestFiles.h"
#include "server/Web.h"
#include "server/ServerHost.h"
#include "server/Token.h"
#include "tests/spool/SpoolSetup.h"

namespace tarvo::testing_spool {
namespace {

namespace fs = std::filesystem;
using server::kReportLimitText;
using server::kReportUnavailableText;
using server::TClientResponse;
using tarvo::testing::ReadFile;
using tarvo::testing::Shell;

class SpoolE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setup_ = new SpoolSetup(TARVOREPORT_BIN);
    logFile_ = (setup_->Folder() / "tarvoserver.log").string();
    TDXLogger::Initialize(logFile_);
    Konfiguration().TraceLog = true;
  }
  static void TearDownTestSuite() {
    delete setup_;
    setup_ = nullptr;
  }
  void SetUp() override {
    Konfiguration().FReportPool = 2;
    Konfiguration().FReportJobs = 3;
    Konfiguration().FReportTimeout = 30;
    setup_->RealWorker();
    // A pool of its own for every test.
    setup_->Spooler().StopSpooler();
    setup_->Spooler().StartSpooler();
  }
  void TearDown() override { EXPECT_EQ(setup_->Spooler().TotalJobs(), 0); }

  // The decrypted answer: the document for 200, the message otherwise.
  static std::pair<int, std::string> Report(const std::string& json) {
    const auto client = setup_->Client();
    const TClientResponse r = client.PostEncrypted("/v2/report", json);
    if (r.Status == 200 || r.Status == 950 || r.Status == 951) return {r.Status, client.Decrypt(r.Body)};
    return {r.Status, r.Body};
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
  // The log once it holds `marker` at least `count` times.
  static std::string LogWith(const std::string& marker, int count = 1) {
    std::string text;
    for (int i = 0; i < 60; ++i) {
      text = Cp1252ToUtf8(ReadFile(logFile_));
      if (Count(text, marker) >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
  }

  static SpoolSetup* setup_;
  static std::string logFile_;
};
SpoolSetup* SpoolE2E::setup_ = nullptr;
std::string SpoolE2E::logFile_;

#ifdef TARVO_CLIENT_TOOL
TEST_F(SpoolE2E, ClientToolFetchesTheDemoReportAsPdfAndHtml) {
  const fs::path pdf = setup_->Folder() / "out.pdf", html = setup_->Folder() / "out.html";
  const std::string base = std::string(TARVO_CLIENT_TOOL) + " --url " + setup_->Url() + " --key '" + kKey + "' ";
  // The record number as a token of the web platform.
  const std::string token = server::EncryptValue("200140");
  EXPECT_EQ(std::system((base + "--out " + pdf.string() + " report T-TOURISTIK BESTAETIGUNG webformular format=pdf id=" +
                         token + " 2>/dev/null").c_str()),
            0);
  const std::string doc = ReadFile(pdf);
  ASSERT_EQ(doc.substr(0, 5), "%PDF-");
  const std::string text = Shell("pdftotext -layout " + pdf.string() + " - 2>/dev/null");
  EXPECT_NE(text.find("200140"), std::string::npos) << text;
  EXPECT_NE(text.find("Gro\xC3\x9F" "e Bergstra\xC3\x9F" "e 221"), std::string::npos) << text;

  // Without a format the worker exports HTML.
  EXPECT_EQ(std::system((base + "--out " + html.string() + " report T-TOURISTIK BESTAETIGUNG webformular nr=200140").c_str()), 0);
  const std::string page = ReadFile(html);
  EXPECT_NE(page.find("<html"), std::string::npos) << page.substr(0, 200);
  EXPECT_NE(page.find("200140"), std::string::npos);
  const std::string job = Cp1252ToUtf8(ReadFile(setup_->Folder() / "tarvoreport0.ini"));
  EXPECT_EQ(job,
            "BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=WEBFORMULAR\r\nFORMAT=html\r\nPARAM__NR=200140\r\n"
            "PARAM_NR=200140\r\n");

  // A failure is shown with its message and a non-zero status.
  const std::string err = Shell(base + "report T-TOURISTIK BESTAETIGUNG gibtesnicht nr=1 2>&1");
  EXPECT_NE(err.find("HTTP 950"), std::string::npos) << err;
  EXPECT_NE(err.find("Reportfehler: bereich=T-TOURISTIK, art=BESTAETIGUNG, name=GIBTESNICHT"), std::string::npos)
      << err;
}
#endif

TEST_F(SpoolE2E, IdenticalCachedRequestsAtOnceShareOneWorker) {
  const std::string json = SpoolSetup::DemoBody("pdf", "200140", true);
  // Earlier tests' lines reach the file within 100 ms.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int before = Count(Cp1252ToUtf8(ReadFile(logFile_)), "Process tarvoreport.exe started");
  std::pair<int, std::string> a, b;
  std::thread t1([&] { a = Report(json); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  std::thread t2([&] { b = Report(json); });
  t1.join();
  t2.join();
  ASSERT_EQ(a.first, 200) << a.second;
  ASSERT_EQ(b.first, 200) << b.second;
  EXPECT_EQ(a.second.substr(0, 5), "%PDF-");
  EXPECT_EQ(a.second, b.second);
  const std::string log = LogWith("Cached Report loaded");
  EXPECT_EQ(Count(log, "Process tarvoreport.exe started") - before, 1);
  EXPECT_NE(log.find("Identical Report-Job found"), std::string::npos);
  // Later requests come from the cache folder without a worker.
  EXPECT_EQ(Report(json), a);
  EXPECT_EQ(Count(LogWith("Cached Report loaded", 2), "Process tarvoreport.exe started") - before, 1);
}

TEST_F(SpoolE2E, FailingWorkersAnswerWithTheMessageAndFreeTheSlot) {
  Konfiguration().FReportPool = 1;
  setup_->Spooler().StopSpooler();
  setup_->Spooler().StartSpooler();
  Konfiguration().FReportTimeout = 1;
  const std::string json = SpoolSetup::DemoBody("pdf", "1");
  const std::string fail = "Reportfehler: bereich=T-TOURISTIK, art=BESTAETIGUNG, name=WEBFORMULAR";
  struct Case {
    const char* what;
    std::string script;  // empty: no worker
    std::string message;
  } cases[] = {
      {"crash", "kill -SEGV $$", fail},
      {"hang", "sleep 20; echo late > \"$DIR/tarvoreport$N.pdf\"", fail},
      {"killed from outside", "kill -KILL $$", fail},
      {"missing", "", "Ausf\xC3\xBChrung des Druckprozesses fehlgeschlagen: bereich=T-TOURISTIK, art=BESTAETIGUNG, "
                      "name=WEBFORMULAR"},
  };
  for (const auto& c : cases) {
    if (c.script.empty())
      fs::remove(setup_->Folder() / "tarvoreport");
    else
      setup_->ScriptWorker(c.script);
    EXPECT_EQ(Report(json), std::make_pair(950, c.message)) << c.what;
    setup_->ScriptWorker("echo fine > \"$DIR/tarvoreport$N.pdf\"");
    EXPECT_EQ(Report(json), std::make_pair(200, std::string("fine\n"))) << c.what;
  }
  EXPECT_NE(LogWith("Timeout: Cancelling report...").find("Timeout: Cancelling report..."), std::string::npos);

  // The module's database cannot be opened: its message, the slot free.
  const std::string database = Konfiguration().Datenbankpfad.get();
  Konfiguration().Datenbankpfad = "localhost/3050:/nirgends/gibtesnicht.fdb";
  const auto noDb = Report(json);
  Konfiguration().Datenbankpfad = database;
  EXPECT_EQ(noDb.first, 950);
  EXPECT_NE(noDb.second.find("gibtesnicht.fdb"), std::string::npos) << noDb.second;
  EXPECT_EQ(Report(json), std::make_pair(200, std::string("fine\n")));
}

TEST_F(SpoolE2E, RoutingCredentialsAndTheRefreshMessage) {
  const auto client = setup_->Client();
  EXPECT_EQ(client.Send("POST", "/v2/report", "", {}, false).Status, 401);
  // Any method; a body that is no JSON object is a bad request.
  const auto bad = client.Send("GET", "/v2/report", "");
  EXPECT_EQ(bad.Status, 500);
  EXPECT_EQ(bad.Body, server::kBadRequestText);
  EXPECT_EQ(Report(R"({"params":{"a":1,"a":2}})").first, 500);
  EXPECT_EQ(setup_->Spooler().TotalJobs(), 0);

  // Outside session-0 mode every admitted job asks the window to refresh.
  setup_->ScriptWorker("echo ok > \"$DIR/tarvoreport$N.pdf\"");
  // (The listener posts its own refreshes for connections as well.)
  const std::string marker = " | Post Message: HWND=0, CM_REFRESH_UI=32769";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int before = Count(Cp1252ToUtf8(ReadFile(logFile_)), marker);
  std::atomic<int> posted{0};
  setup_->Context().PostRefreshUI = [&] { ++posted; };
  setup_->Context().Session0 = false;
  EXPECT_EQ(Report(SpoolSetup::DemoBody("pdf", "1")).first, 200);
  EXPECT_EQ(Report(R"({"params":{"a":1,"a":2}})").first, 500);  // not admitted
  setup_->Context().Session0 = true;
  EXPECT_EQ(Report(SpoolSetup::DemoBody("pdf", "2")).first, 200);
  setup_->Context().PostRefreshUI = nullptr;
  EXPECT_GE(posted.load(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Count(Cp1252ToUtf8(ReadFile(logFile_)), marker) - before, 1);
}

TEST_F(SpoolE2E, WorkersHoldNoSocketOfTheServer) {
  // A worker that kept the listening socket would keep the port bound
  // after "Anhalten" for as long as it runs.
  setup_->ScriptWorker("for f in /proc/$$/fd/*; do readlink \"$f\"; done | grep -c socket > \"$DIR/tarvoreport$N.pdf\"");
  EXPECT_EQ(Report(SpoolSetup::DemoBody("pdf", "1")), std::make_pair(200, std::string("0\n")));
}

TEST_F(SpoolE2E, BurstIsAdmittedExactlyUpToTheLimits) {
  setup_->ScriptWorker("sleep 3; echo ok > \"$DIR/tarvoreport$N.pdf\"");
  constexpr int kRequests = 200;
  std::atomic<int> ok{0}, limit{0}, busy{0}, other{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      const auto r = Report(SpoolSetup::DemoBody("pdf", std::to_string(i)));
      if (r.first == 200 && r.second == "ok\n")
        ++ok;
      else if (r.first == 950 && r.second == kReportLimitText)
        ++limit;
      else if (r.first == 503)  // the listener's 32 busy modules
        ++busy;
      else
        ++other;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 6);
  EXPECT_EQ(other.load(), 0);
  EXPECT_EQ(limit.load() + busy.load(), kRequests - 6);
  EXPECT_GT(limit.load(), 0);
  EXPECT_EQ(setup_->Spooler().TotalJobs(), 0);
  EXPECT_EQ(setup_->Spooler().SlotJobs(0), 0);
  EXPECT_EQ(setup_->Spooler().SlotJobs(1), 0);
}

TEST_F(SpoolE2E, StopAndStartWhileJobsRun) {
  setup_->ScriptWorker("sleep 1; echo ok > \"$DIR/tarvoreport$N.pdf\"");
  std::vector<std::pair<int, std::string>> answers(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] { answers[i] = Report(SpoolSetup::DemoBody("pdf", std::to_string(i))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  setup_->Spooler().StopSpooler();
  EXPECT_EQ(Report(SpoolSetup::DemoBody("pdf", "9")), std::make_pair(950, std::string(kReportUnavailableText)));
  setup_->Spooler().StartSpooler();
  // A job of the new pool while the old ones still run.
  auto fresh = std::async(std::launch::async, [] { return Report(SpoolSetup::DemoBody("pdf", "10")); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(fresh.get(), std::make_pair(200, std::string("ok\n")));
  int done = 0, unavailable = 0;
  for (const auto& a : answers) {
    if (a == std::make_pair(200, std::string("ok\n"))) ++done;
    if (a == std::make_pair(950, std::string(kReportUnavailableText))) ++unavailable;
  }
  // The two running jobs finished; the two waiting ones were refused.
  EXPECT_EQ(done, 2);
  EXPECT_EQ(unavailable, 2);
  EXPECT_EQ(setup_->Spooler().TotalJobs(), 0);
  EXPECT_TRUE(setup_->Spooler().SlotHashes(0).empty());
  EXPECT_TRUE(setup_->Spooler().SlotHashes(1).empty());
}

// The window's part for the host: fields kept as shown, nothing displayed.
class PlainView : public server::HostView {
 public:
  std::uintptr_t WindowHandle() const override { return 7; }
  server::HostSettingsFields ReadSettingsFields() const override { return fields; }
  void ShowSettingsFields(const server::HostSettingsFields& f) override { fields = f; }
  void RefreshUI() override {}
  void ShowError(const std::string& message) override { errors.push_back(message); }
  server::HostSettingsFields fields;
  std::vector<std::string> errors;
};

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

// "Anhalten" and "Starten" of the host (listener and spooler together)
// while report jobs run.
TEST_F(SpoolE2E, HostStopAndStartWhileJobsRun) {
  const int port = FreePort();
  std::ofstream(setup_->Folder() / "tarvoserver.ini", std::ios::binary)
      << "TARVO-SERVER-PORT=" << port << "\r\nSICHERHEITSSCHLUESSEL=" << Utf8ToCp1252(kKey)
      << "\r\nDATENBANKPFAD=" << setup_->Database() << "\r\nREPORT-POOL=1\r\nREPORT-JOBS=3\r\nTRACELOG=JA\r\n";
  setup_->ScriptWorker("sleep 0.5; echo ok > \"$DIR/tarvoreport$N.pdf\"");
  server::ServerContext context;
  context.Session0 = true;
  PlainView view;
  auto host = std::make_unique<server::ServerHost>(context, view);
  host->FormCreate(setup_->Folder().string() + "/", {"--autostart"});
  ASSERT_TRUE(host->Active()) << ::testing::PrintToString(view.errors);
  ASSERT_TRUE(context.Spooler);

  server::TTarvoClient client("http://127.0.0.1:" + std::to_string(port), kKey);
  auto ask = [&](const std::string& nr) {
    const auto r = client.PostEncrypted("/v2/report", SpoolSetup::DemoBody("pdf", nr));
    return std::make_pair(r.Status, r.Status == 200 || r.Status == 950 ? client.Decrypt(r.Body) : r.Body);
  };
  std::vector<std::pair<int, std::string>> answers(3);
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) threads.emplace_back([&, i] { answers[i] = ask(std::to_string(i)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(host->ActiveReports(), 1);
  EXPECT_EQ(host->WaitingReports(), 2);
  // The listener answers what it has taken before the spooler goes.
  host->ButtonStopClick();
  for (auto& t : threads) t.join();
  for (const auto& a : answers) EXPECT_EQ(a, std::make_pair(200, std::string("ok\n")));
  EXPECT_FALSE(host->Active());
  EXPECT_TRUE(context.Spooler->Stopped());
  EXPECT_EQ(context.Spooler->TotalJobs(), 0);

  host->ButtonStartClick();
  ASSERT_TRUE(host->Active());
  EXPECT_EQ(ask("9"), std::make_pair(200, std::string("ok\n")));
  EXPECT_EQ(host->ActiveReports() + host->WaitingReports(), 0);
  host->ButtonStopClick();
  host.reset();
  EXPECT_TRUE(view.errors.empty()) << ::testing::PrintToString(view.errors);
}

}  // namespace
}  // namespace tarvo::testing_spool
