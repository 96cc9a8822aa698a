// A Bridge server with its report spooler for end-to-end runs: a throwaway
// database with the demo content, a program folder of its own holding a
// copy of tarvoreport and tarvoserver.ini, the spooler in the context and a
// real TWebServer on a free loopback port. Used by the tests and the
// benchmarks of the spooler.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "common/IBTarvo.h"
#include "common/testing/TestDatabase.h"
#include "server/ServerContext.h"
#include "server/Spooler.h"
#include "server/TarvoClient.h"
#include "server/WebServer.h"

namespace tarvo::testing_spool {

inline constexpr const char* kKey = "Spool-Schl\xC3\xBC" "ssel";

class SpoolSetup {
 public:
  // `worker`: the tarvoreport program to copy into the folder. The
  // environment loses DISPLAY and WAYLAND_DISPLAY (workers run headless,
  // as under the service) and XDG_DATA_HOME points into the folder.
  explicit SpoolSetup(const std::string& worker);
  ~SpoolSetup();

  const std::filesystem::path& Folder() const { return dir_; }
  server::TSpooler& Spooler() { return *context_.Spooler; }
  server::TWebServer& Server() { return *server_; }
  server::ServerContext& Context() { return context_; }
  std::string Url() const;
  server::TTarvoClient Client() const;
  const std::string& Database() const { return db_.ConnectionString(); }

  // Replaces the worker by a shell script (`body` runs with $DIR the
  // folder and $N the slot index), or by the real program again.
  void ScriptWorker(const std::string& body);
  void RealWorker();

  // Request body for the demo booking confirmation; a non-empty `extra`
  // adds the parameter "lauf" (a distinct job for the same document).
  static std::string DemoBody(const std::string& format, const std::string& nr, bool cache = false,
                              const std::string& extra = {});

 private:
  tarvo::testing::TestDatabase db_{tarvo::testing::TestDatabase::Schema::Tarvo};
  std::string worker_;
  std::filesystem::path dir_;
  server::ServerContext context_;
  std::unique_ptr<server::TWebServer> server_;
};

// Live children of this process (zombies not counted) whose executable
// base name is `name`. Reads only the threads' child lists and the
// children's stat files, so that sampling it every few milliseconds takes
// next to no CPU from what is measured. -1 when the kernel offers no
// child lists.
int CountChildProcesses(const std::string& name);

}  // namespace tarvo::testing_spool
