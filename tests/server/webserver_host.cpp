// A process that runs nothing but the HTTP listener, for measurements of a
// server process from outside (memory, latency):
//   tarvo_webserver_host PORT DATABASE KEY
// prints "READY <port>" on stdout once listening and serves until its
// standard input closes.
#include <cstdio>
#include <iostream>
#include <string>

#include "common/Konfiguration.h"
#include "server/ServerContext.h"
#include "server/WebServer.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tarvo_webserver_host PORT DATABASE KEY\n");
    return 2;
  }
  tarvo::TKonfiguration& k = tarvo::Konfiguration();
  k.TarvoServerPort = argv[1];
  k.Datenbankpfad = argv[2];
  k.Sicherheitsschluessel = argv[3];
  tarvo::server::ServerContext context;
  context.Session0 = true;
  tarvo::server::TWebServer server(context);
  try {
    server.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvo_webserver_host: %s\n", e.what());
    return 1;
  }
  std::printf("READY %d\n", server.Port());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  server.Stop();
  return 0;
}
