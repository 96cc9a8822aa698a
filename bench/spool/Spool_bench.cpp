
// "/v2/report" over loopback with the real tarvoreport and the demo
// template: one request beside the worker run on its own (same job file,
// started and waited for directly), a cache hit, and eight distinct
// requests at once on a pool of two beside four jobs one after another.
//
//   build/bench/spool_bench
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "common/DXLogger.h"
#include "bench/server/BenchSupport.h"
#include "common/Konfiguration.h"
#include "server/TarvoClient.h"
#include "server/WorkerProcess.h"
#include "tests/spool/SpoolSetup.h"

using namespace tarvo;
using tarvo::bench_server::Median;
using tarvo::testing_spool::SpoolSetup;

namespace {

SpoolSetup& Setup() {
  static SpoolSetup* s = [] {
    auto* p = new SpoolSetup(TARVOREPORT_BIN);
    if (std::getenv("SPOOL_BENCH_LOG")) {
      TDXLogger::Initialize(std::getenv("SPOOL_BENCH_LOG"));
      Konfiguration().TraceLog = true;
    }
    Konfiguration().FReportPool = 2;
    Konfiguration().FReportJobs = 8;
    p->Spooler().StopSpooler();
    p->Spooler().StartSpooler();
    return p;
  }();
  return *s;
}

double Ms(const rusage& u) {
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// CPU time of the reaped workers so far, in milliseconds.
double ChildrenCpuMs() {
  rusage u{};
  ::getrusage(RUSAGE_CHILDREN, &u);
  return Ms(u);
}

// CPU time so far of everything a report job keeps busy: this process
// (listener and clients), the reaped workers and the Firebird server
// processes, in milliseconds.
double AllCpuMs() {
  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  double firebird = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream f(e.path() / "stat");
    std::string stat;
    std::getline(f, stat);
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(firebird)") == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stod(field);
      if (i == 15) stime = std::stod(field);
    }
    firebird += (utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  return Ms(self) + ChildrenCpuMs() + firebird;
}

// The wall time a CPU-bound run cannot go below: its CPU time spread over
// every core.
void CountCpuBound(benchmark::State& state, double cpuBefore) {
  const double perIteration = (AllCpuMs() - cpuBefore) / static_cast<double>(state.iterations());
  state.counters["all_cpu_ms"] = perIteration;
  state.counters["cpu_bound_ms"] = perIteration / static_cast<double>(std::thread::hardware_concurrency());
}

std::string Request(const std::string& json) {
  const auto client = Setup().Client();
  const auto r = client.PostEncrypted("/v2/report", json);
  if (r.Status != 200) throw std::runtime_error("HTTP " + std::to_string(r.Status) + ": " + client.Decrypt(r.Body));
  return client.Decrypt(r.Body);
}

// The raw baseline: the worker with the job file of slot 0, no server.
void BM_WorkerAlone(benchmark::State& state) {
  auto& s = Setup();
  const auto dir = s.Folder();
  std::ofstream(dir / "tarvoreport7.ini", std::ios::binary)
      << "BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=WEBFORMULAR\r\nFORMAT=pdf\r\nPARAM__NR=200140\r\n"
         "PARAM_NR=200140\r\n";
  for (auto _ : state) {
    server::TWorkerProcess p((dir / "tarvoreport").string(), {"tarvoreport", "--WEB", "--POOL=7"});
    p.Wait(std::chrono::steady_clock::now() + std::chrono::seconds(60), nullptr);
    if (!std::filesystem::exists(dir / "tarvoreport7.pdf")) state.SkipWithError("no output");
    std::filesystem::remove(dir / "tarvoreport7.pdf");
  }
}
BENCHMARK(BM_WorkerAlone)->Unit(benchmark::kMillisecond)->Iterations(8)->UseRealTime();

// The raw baseline of the pool of two: eight jobs as four rounds of two
// workers started directly at the same moment.
void BM_EightWorkersAloneInPairs(benchmark::State& state) {
  auto& s = Setup();
  const auto dir = s.Folder();
  for (int n : {6, 7})
    std::ofstream(dir / ("tarvoreport" + std::to_string(n) + ".ini"), std::ios::binary)
        << "BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=WEBFORMULAR\r\nFORMAT=pdf\r\nPARAM__NR=200140\r\n"
           "PARAM_NR=200140\r\n";
  for (auto _ : state) {
    for (int round = 0; round < 4; ++round) {
      server::TWorkerProcess a((dir / "tarvoreport").string(), {"tarvoreport", "--WEB", "--POOL=6"});
      server::TWorkerProcess b((dir / "tarvoreport").string(), {"tarvoreport", "--WEB", "--POOL=7"});
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      a.Wait(end, nullptr);
      b.Wait(end, nullptr);
    }
  }
}
BENCHMARK(BM_EightWorkersAloneInPairs)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

void BM_ReportRequest(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) bytes = Request(SpoolSetup::DemoBody("pdf", "200140")).size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReportRequest)->Unit(benchmark::kMillisecond)->Iterations(8)->UseRealTime();

void BM_CacheHit(benchmark::State& state) {
  const std::string json = SpoolSetup::DemoBody("pdf", "200140", true);
  Request(json);  // fills the cache
  for (auto _ : state) benchmark::DoNotOptimize(Request(json));
}
BENCHMARK(BM_CacheHit)->Unit(benchmark::kMillisecond)->Iterations(50)->UseRealTime();

void FourSequential() {
  for (int i = 0; i < 4; ++i) Request(SpoolSetup::DemoBody("pdf", "200140", false, std::to_string(i)));
}

// Eight distinct requests at once; `peak` becomes the largest number of
// live workers seen by a sampler every 2 ms. Returns false when a request
// failed.
bool EightConcurrent(int& peak) {
  std::atomic<bool> running{true};
  std::thread sampler([&] {
    while (running) {
      const int alive = testing_spool::CountChildProcesses("tarvoreport");
      peak = alive < 0 || peak < 0 ? -1 : std::max(peak, alive);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      try {
        Request(SpoolSetup::DemoBody("pdf", "200140", false, std::to_string(100 + i)));
      } catch (...) {
        ++failed;
      }
    });
  for (auto& t : threads) t.join();
  running = false;
  sampler.join();
  if (peak < 0) throw std::runtime_error("no child lists in /proc: workers cannot be counted");
  return failed == 0;
}

void BM_FourSequential(benchmark::State& state) {
  const double cpu = ChildrenCpuMs(), all = AllCpuMs();
  for (auto _ : state) FourSequential();
  state.counters["worker_cpu_ms"] = (ChildrenCpuMs() - cpu) / state.iterations();
  CountCpuBound(state, all);
}
BENCHMARK(BM_FourSequential)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

void BM_EightConcurrentPool2(benchmark::State& state) {
  const double cpu = ChildrenCpuMs(), all = AllCpuMs();
  int peak = 0;
  for (auto _ : state)
    if (!EightConcurrent(peak)) state.SkipWithError("a request failed");
  state.counters["peak_workers"] = peak;
  state.counters["worker_cpu_ms"] = (ChildrenCpuMs() - cpu) / state.iterations();
  CountCpuBound(state, all);
}
BENCHMARK(BM_EightConcurrentPool2)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

// The two above taken in turns, so that drifts of the machine and of the
// database server fall on both alike: `ratio` is the median eight-job time
// over the median four-job time of the same rounds.
void BM_EightConcurrentOverFourSequential(benchmark::State& state) {
  std::vector<double> sequential, concurrent;
  int peak = 0;
  const auto ms = [](auto since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
  };
  for (auto _ : state) {
    auto t = std::chrono::steady_clock::now();
    FourSequential();
    sequential.push_back(ms(t));
    t = std::chrono::steady_clock::now();
    if (!EightConcurrent(peak)) state.SkipWithError("a request failed");
    concurrent.push_back(ms(t));
  }
  state.counters["seq_ms"] = Median(sequential);
  state.counters["conc_ms"] = Median(concurrent);
  state.counters["ratio"] = Median(concurrent) / Median(sequential);
  state.counters["peak_workers"] = peak;
}
BENCHMARK(BM_EightConcurrentOverFourSequential)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
