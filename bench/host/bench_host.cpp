// Start and stop of the listener through the host against a bare bind and
// close; ApplySettings against a bare SaveToFile of the same record.
//
//   build/bin/bench_host --benchmark_min_time=0.2s
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <Poco/Net/ServerSocket.h>

#include <filesystem>

#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "server/ServerHost.h"

namespace {

using namespace tarvo;
using namespace tarvo::server;

class NullView : public HostView {
 public:
  std::uintptr_t WindowHandle() const override { return 1; }
  HostSettingsFields ReadSettingsFields() const override {
    return {port, "schluessel", "30", "5", "3", "3", "localhost/3050:/tmp/bench.fdb", 0};
  }
  std::string port = "50600";
  void ShowSettingsFields(const HostSettingsFields&) override {}
  void RefreshUI() override {}
  void ShowError(const std::string&) override {}
};

std::string Folder() {
  static const std::string folder = [] {
    std::string f = "/tmp/tarvo-bench-host-" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(f);
    return f;
  }();
  return folder;
}

// Baseline of a listener start: bind and listen on a free port, then close.
void BM_RawBindListenClose(benchmark::State& state) {
  for (auto _ : state) {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("0.0.0.0", 0));
    benchmark::DoNotOptimize(socket.address().port());
    socket.close();
  }
}
BENCHMARK(BM_RawBindListenClose)->Unit(benchmark::kMicrosecond);

// "Starten" and "Anhalten" of the listener: settings take-over with its file
// write, bind, the listener's threads, their stop and join.
void BM_HostStartStopServer(benchmark::State& state) {
  Konfiguration().BasisPfad = Folder();
  ServerContext context;
  context.Session0 = true;
  NullView view;
  int port = 0;
  {
    Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
    port = probe.address().port();
  }
  view.port = std::to_string(port);
  ServerHost host(context, view);
  for (auto _ : state) {
    host.StartServer();
    host.StopServer();
  }
}
BENCHMARK(BM_HostStartStopServer)->Unit(benchmark::kMicrosecond);

void BM_RawSaveToFile(benchmark::State& state) {
  Konfiguration().BasisPfad = Folder();
  for (auto _ : state) Konfiguration().SaveToFile();
}
BENCHMARK(BM_RawSaveToFile);

void BM_HostApplySettings(benchmark::State& state) {
  Konfiguration().BasisPfad = Folder();
  ServerContext context;
  NullView view;
  ServerHost host(context, view);
  for (auto _ : state) host.ApplySettings();
}
BENCHMARK(BM_HostApplySettings);

}  // namespace

int main(int argc, char** argv) {
  TDXLogger::Initialize(Folder() + "bench.log");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TDXLogger::Finalize();
  std::filesystem::remove_all(Folder());
  return 0;
}
