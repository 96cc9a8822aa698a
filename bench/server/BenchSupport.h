// Helpers the server and spool benchmarks use: the median of a run's figures,
// a process's memory from /proc and a web server started on a database.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/Konfiguration.h"
#include "server/ServerContext.h"
#include "server/WebServer.h"

namespace tarvo::bench_server {

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A "VmRSS:"-style field of /proc/<pid>/status in kB, -1 when missing.
inline long StatusKb(int pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

// Configures the process for `connection` with `key` on a free port, starts
// a session-0 web server and sets `url` to its address.
inline std::unique_ptr<server::TWebServer> StartWebServer(server::ServerContext& context, const std::string& key,
                                                          const std::string& connection, std::string& url) {
  TKonfiguration& k = Konfiguration();
  k.TarvoServerPort = "0";
  k.Sicherheitsschluessel = key;
  k.Datenbankpfad = connection;
  context.Session0 = true;
  auto server = std::make_unique<server::TWebServer>(context);
  server->Start();
  url = "http://127.0.0.1:" + std::to_string(server->Port());
  return server;
}

}  // namespace tarvo::bench_server
