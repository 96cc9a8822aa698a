// Cost of one log call for the caller, from 8 threads at once, with the log
// file on a normal target, on a target that cannot be written and on a FIFO
// whose reader never reads (the writer thread then hangs in write(), as it
// would on a stalled disk). Baselines in the same run: the bare in-memory
// append under a mutex, and a caller that writes its own line to the file.
//
// Counters: p50_ns / p99_ns / p999_ns are per-call latencies measured around
// each call (averaged over the threads); pipe_bytes is what the blocked
// writer managed to put into the FIFO before it stalled.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/DXLogger.h"

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 100000;

std::string Message(int thread, int64_t i) {
  return "Request " + std::to_string(i) + " served by thread " + std::to_string(thread) +
         " | SELECT * FROM KUNDEN WHERE NR = :NR";
}

// Per-call latency of `call`, recorded for every call of the loop.
template <typename Call>
void Measure(benchmark::State& state, Call&& call) {
  std::vector<uint32_t> ns;
  ns.reserve(kCallsPerThread);
  const int thread = state.thread_index();
  int64_t i = 0;
  for (auto _ : state) {
    std::string text = Message(thread, i++);
    const auto t0 = std::chrono::steady_clock::now();
    call(text);
    const auto t1 = std::chrono::steady_clock::now();
    ns.push_back(static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()));
  }
  std::sort(ns.begin(), ns.end());
  auto at = [&](double q) {
    return ns.empty() ? 0.0 : static_cast<double>(ns[static_cast<size_t>(q * (ns.size() - 1))]);
  };
  state.counters["p50_ns"] = benchmark::Counter(at(0.5), benchmark::Counter::kAvgThreads);
  state.counters["p99_ns"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
  state.counters["p999_ns"] = benchmark::Counter(at(0.999), benchmark::Counter::kAvgThreads);
}

std::string TempDir() {
  char pattern[] = "/tmp/tarvo-bench-XXXXXX";
  return mkdtemp(pattern) ? pattern : "/tmp";
}

// ---- the logger on three kinds of target ----

std::string gDir;

void BM_Log_NormalFile(benchmark::State& state) {
  if (state.thread_index() == 0) {
    gDir = TempDir();
    tarvo::TDXLogger::Initialize(gDir + "/bench.log");
  }
  Measure(state, [](const std::string& m) { tarvo::TDXLogger::Log(m); });
  if (state.thread_index() == 0) {
    tarvo::TDXLogger::Finalize();
    fs::remove_all(gDir);
  }
}

void BM_Log_Unwritable(benchmark::State& state) {
  if (state.thread_index() == 0) {
    gDir = TempDir();
    fs::create_directory(gDir + "/bench.log");  // a directory where the file should be
    tarvo::TDXLogger::Initialize(gDir + "/bench.log");
  }
  Measure(state, [](const std::string& m) { tarvo::TDXLogger::Log(m); });
  if (state.thread_index() == 0) {
    tarvo::TDXLogger::Finalize();
    fs::remove_all(gDir);
  }
}

int gFifoReader = -1;

void BM_Log_WriterBlockedInWrite(benchmark::State& state) {
  if (state.thread_index() == 0) {
    gDir = TempDir();
    const std::string fifo = gDir + "/bench.log";
    mkfifo(fifo.c_str(), 0600);
    // A reader that holds the FIFO open and never reads: once the pipe is
    // full the writer thread hangs in write().
    gFifoReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    tarvo::TDXLogger::Initialize(fifo);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tarvo::TDXLogger::Log("fill the pipe " + std::string(70000, 'x'));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the writer is stuck now
  }
  Measure(state, [](const std::string& m) { tarvo::TDXLogger::Log(m); });
  if (state.thread_index() == 0) {
    int queued = 0;
    ioctl(gFifoReader, FIONREAD, &queued);
    state.counters["pipe_bytes"] = queued;
    // Drain the pipe until the writer has delivered everything and stopped.
    std::atomic<bool> done{false};
    std::thread drain([&] {
      char buf[1 << 16];
      while (!done) {
        pollfd p{gFifoReader, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) (void)!read(gFifoReader, buf, sizeof buf);
      }
    });
    tarvo::TDXLogger::Finalize();
    done = true;
    drain.join();
    close(gFifoReader);
    fs::remove_all(gDir);
  }
}

// ---- raw baselines ----

std::mutex gBaselineMutex;
std::vector<std::string> gBaselineBuffer;

// The least any buffered logger can cost: a time-stamp-free append under a mutex.
void BM_Baseline_MutexAppend(benchmark::State& state) {
  if (state.thread_index() == 0) gBaselineBuffer.reserve(kThreads * kCallsPerThread);
  Measure(state, [](const std::string& m) {
    std::lock_guard lock(gBaselineMutex);
    gBaselineBuffer.push_back(m);
  });
  if (state.thread_index() == 0) {
    gBaselineBuffer.clear();
    gBaselineBuffer.shrink_to_fit();
  }
}

int gSyncFd = -1;

// A caller that writes its own line to the log file: the disk in the caller's path.
void BM_Baseline_CallerWritesFile(benchmark::State& state) {
  if (state.thread_index() == 0) {
    gDir = TempDir();
    gSyncFd = open((gDir + "/sync.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  Measure(state, [](const std::string& m) {
    const std::string line = m + "\r\n";
    (void)!write(gSyncFd, line.data(), line.size());
  });
  if (state.thread_index() == 0) {
    close(gSyncFd);
    fs::remove_all(gDir);
  }
}

#define TARVO_LOG_BENCH(fn) \
  BENCHMARK(fn)->Threads(kThreads)->Iterations(kCallsPerThread)->UseRealTime()

TARVO_LOG_BENCH(BM_Baseline_MutexAppend);
TARVO_LOG_BENCH(BM_Baseline_CallerWritesFile);
TARVO_LOG_BENCH(BM_Log_NormalFile);
TARVO_LOG_BENCH(BM_Log_Unwritable);
TARVO_LOG_BENCH(BM_Log_WriterBlockedInWrite);

}  // namespace
