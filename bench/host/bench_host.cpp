// Connection bookkeeping of the host (counter plus refresh request) against
// a bare atomic counter, with and without the queued hand-off to a GUI-thread
// object; ApplySettings against a bare SaveToFile of the same record.
//
//   build/bin/bench_host --benchmark_min_time=0.2s
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <cstdlib>
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
    return {"50600", "schluessel", "30", "5", "3", "3", "localhost/3050:/tmp/bench.fdb", 0};
  }
  void ShowSettingsFields(const HostSettingsFields&) override {}
  void RefreshUI() override {}
  void ShowError(const std::string&) override {}
};

// Counts the refresh events it receives, as the main window would handle them.
class Sink : public QObject {
 public:
  int handled = 0;
  bool event(QEvent* e) override {
    if (e->type() == static_cast<QEvent::Type>(CM_REFRESH_UI)) {
      ++handled;
      return true;
    }
    return QObject::event(e);
  }
};

std::string Folder() {
  static const std::string folder = [] {
    std::string f = "/tmp/tarvo-bench-host-" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(f);
    return f;
  }();
  return folder;
}

void BM_RawAtomicCounter(benchmark::State& state) {
  std::atomic<int> counter{0};
  for (auto _ : state) {
    counter.fetch_add(1);
    counter.fetch_sub(1);
    benchmark::DoNotOptimize(counter);
  }
}
BENCHMARK(BM_RawAtomicCounter);

void BM_HostConnectDisconnect_Session0(benchmark::State& state) {
  ServerContext context;
  context.Session0 = true;
  NullView view;
  ServerHost host(context, view);
  for (auto _ : state) {
    host.ServerConnect();
    host.ServerDisconnect();
  }
}
BENCHMARK(BM_HostConnectDisconnect_Session0);

void BM_RawPostEvent(benchmark::State& state) {
  Sink sink;
  int64_t n = 0;
  for (auto _ : state) {
    QCoreApplication::postEvent(&sink, new QEvent(static_cast<QEvent::Type>(CM_REFRESH_UI)));
    QCoreApplication::postEvent(&sink, new QEvent(static_cast<QEvent::Type>(CM_REFRESH_UI)));
    if ((++n & 511) == 0) QCoreApplication::sendPostedEvents(&sink);
  }
  QCoreApplication::sendPostedEvents(&sink);
}
BENCHMARK(BM_RawPostEvent);

void BM_HostConnectDisconnect_Posting(benchmark::State& state) {
  Sink sink;
  ServerContext context;
  context.PostRefreshUI = [&sink] {
    QCoreApplication::postEvent(&sink, new QEvent(static_cast<QEvent::Type>(CM_REFRESH_UI)));
  };
  NullView view;
  ServerHost host(context, view);
  int64_t n = 0;
  for (auto _ : state) {
    host.ServerConnect();
    host.ServerDisconnect();
    if ((++n & 511) == 0) QCoreApplication::sendPostedEvents(&sink);
  }
  QCoreApplication::sendPostedEvents(&sink);
}
BENCHMARK(BM_HostConnectDisconnect_Posting);

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
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QCoreApplication app(argc, argv);
  TDXLogger::Initialize(Folder() + "bench.log");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TDXLogger::Finalize();
  std::filesystem::remove_all(Folder());
  return 0;
}
