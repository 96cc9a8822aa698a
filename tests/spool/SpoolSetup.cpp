#include "tests/spool/SpoolSetup.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/Konfiguration.h"
#include "server/JSONSupport.h"

namespace tarvo::testing_spool {
namespace fs = std::filesystem;

namespace {
std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}
}  // namespace

SpoolSetup::SpoolSetup(const std::string& worker) : worker_(worker) {
  db_.ExecuteScript(ReadFile(fs::path(TARVO_SOURCE_DIR) / "scripts/demo/20-report.sql"));
  dir_ = fs::temp_directory_path() / ("tarvo-spool-e2e-" + std::to_string(::getpid()));
  fs::remove_all(dir_);
  fs::create_directories(dir_ / "home");
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ::setenv("XDG_DATA_HOME", (dir_ / "home").c_str(), 1);
  RealWorker();
  std::ofstream(dir_ / "tarvoserver.ini", std::ios::binary) << "DATENBANKPFAD=" << db_.ConnectionString() << "\r\n";

  keepOpen_.SetDatabaseName(db_.ConnectionString());
  keepOpen_.Open();
  TKonfiguration& k = Konfiguration();
  k.BasisPfad = dir_.string() + "/";
  k.TarvoServerPort = "0";
  k.Sicherheitsschluessel = kKey;
  k.Datenbankpfad = db_.ConnectionString();
  k.FReportPool = 2;
  k.FReportJobs = 3;
  k.FReportTimeout = 30;
  context_.Session0 = true;
  context_.Spooler = std::make_shared<server::TSpooler>(context_);
  context_.Spooler->StartSpooler();
  server_ = std::make_unique<server::TWebServer>(context_);
  server_->Start();
}

SpoolSetup::~SpoolSetup() {
  server_.reset();
  context_.Spooler->StopSpooler();
  keepOpen_.Close();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string SpoolSetup::Url() const { return "http://127.0.0.1:" + std::to_string(server_->Port()); }

server::TTarvoClient SpoolSetup::Client() const {
  server::TTarvoClient c(Url(), kKey);
  c.SetTimeoutSeconds(60);
  return c;
}

void SpoolSetup::ScriptWorker(const std::string& body) {
  const fs::path p = dir_ / "tarvoreport";
  fs::remove(p);
  std::ofstream(p) << "#!/bin/sh\nDIR=$(dirname \"$0\")\nN=${2#--POOL=}\n" << body << "\n";
  fs::permissions(p, fs::perms::owner_all);
}

void SpoolSetup::RealWorker() {
  fs::remove(dir_ / "tarvoreport");
  fs::copy_file(worker_, dir_ / "tarvoreport");
}

std::string SpoolSetup::DemoBody(const std::string& format, const std::string& nr, bool cache,
                                 const std::string& extra) {
  std::string json;
  server::TJsonWriter w(json);
  w.BeginObject();
  w.Member("bereich", "T-TOURISTIK");
  w.Member("art", "BESTAETIGUNG");
  w.Member("name", "webformular");
  if (!format.empty()) w.Member("format", format);
  w.Key("params");
  w.BeginObject();
  w.Member("nr", nr);
  if (cache) w.Member("X-QX-REPORT-CACHE", "JA");
  if (!extra.empty()) w.Member("lauf", extra);
  w.EndObject();
  w.EndObject();
  return json;
}

int CountProcesses(const std::string& name, int parent) {
  int n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string pid = e.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (comm) state ppid ..."; comm may hold blanks and parentheses.
    std::ifstream f(e.path() / "stat");
    std::string stat;
    std::getline(f, stat);
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    if (stat.substr(open + 1, close - open - 1) != name) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    int ppid = 0;
    rest >> state >> ppid;
    if (state == "Z" || state == "X") continue;
    if (parent != 0 && ppid != parent) continue;
    ++n;
  }
  return n;
}

}  // namespace tarvo::testing_spool
