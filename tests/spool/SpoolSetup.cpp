#include "tests/spool/SpoolSetup.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/Konfiguration.h"
#include "common/testing/TestFiles.h"
#include "server/JSONSupport.h"

namespace tarvo::testing_spool {
namespace fs = std::filesystem;

using tarvo::testing::ReadFile;

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

int CountChildProcesses(const std::string& name) {
  static const bool childLists = fs::exists("/proc/thread-self/children");
  if (!childLists) return -1;
  int n = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
    // A thread that ended meanwhile has no list any more: it has no children either.
    std::istringstream children(ReadFile(task.path() / "children"));
    for (std::string pid; children >> pid;) {
      // "pid (comm) state ..."; comm may hold blanks and parentheses.
      const std::string stat = ReadFile(fs::path("/proc") / pid / "stat");
      const size_t open = stat.find('('), close = stat.rfind(')');
      if (open == std::string::npos || close == std::string::npos || close < open) continue;
      if (stat.compare(open + 1, close - open - 1, name) != 0) continue;
      const char state = close + 2 < stat.size() ? stat[close + 2] : 'X';
      if (state != 'Z' && state != 'X') ++n;
    }
  }
  return n;
}

}  // namespace tarvo::testing_spool
