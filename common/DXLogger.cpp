#include "common/DXLogger.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "common/Codepage.h"
#include "common/FormatSettings.h"
#include "common/Konfiguration.h"
#include "common/Platform.h"

namespace tarvo {
namespace {

// The logger's monitor: guards the singleton reference, the terminating
// flag and the line buffer. Held only for an append or a hand-over.
std::mutex gMonitor;
TDXLogger* gInstance = nullptr;
bool gTerminating = false;

// Time separator of the locale, fixed when the logger starts.
std::atomic<char> gTimeSeparator{':'};

// "YYYY-MM-DD hh:nn:ss,zzz" of the current local time. The part up to the
// seconds is computed once per second and thread; the milliseconds are
// appended every time.
void AppendTimestamp(std::string& out) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct Cache {
    time_t second = -1;
    char sep = 0;
    char text[32] = {};
    int length = 0;
  };
  thread_local Cache cache;
  const char sep = gTimeSeparator.load(std::memory_order_relaxed);
  if (cache.second != ts.tv_sec || cache.sep != sep) {
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    cache.length = std::snprintf(cache.text, sizeof cache.text, "%04d-%02d-%02d %02d%c%02d%c%02d",
                                 tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, sep,
                                 tm.tm_min, sep, tm.tm_sec);
    if (cache.length < 0 || cache.length >= static_cast<int>(sizeof cache.text)) cache.length = 0;
    cache.second = ts.tv_sec;
    cache.sep = sep;
  }
  out.append(cache.text, static_cast<size_t>(cache.length));
  const int ms = static_cast<int>(ts.tv_nsec / 1000000);
  out.push_back(',');
  out.push_back(static_cast<char>('0' + ms / 100));
  out.push_back(static_cast<char>('0' + ms / 10 % 10));
  out.push_back(static_cast<char>('0' + ms % 10));
}

// The running executable's path with its extension replaced by ".log".
std::string DefaultLogFileName() {
  std::string path = ExecutablePath();
  if (path.empty()) path = "tarvo";
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) path.erase(dot);
  return path + ".log";
}

}  // namespace

// The writer thread: every 100 ms it takes the buffered lines and appends
// them to the log file, which it opens and closes once per batch. Owned by
// the logger, which stops and joins it before it releases the buffer.
class TLogThread {
 public:
  TLogThread(TDXLogger& owner, std::string logFileName)
      : owner_(owner), FLogFileName(std::move(logFileName)) {}
  ~TLogThread() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  TLogThread(const TLogThread&) = delete;
  TLogThread& operator=(const TLogThread&) = delete;

  void Start() { thread_ = std::thread([this] { Run(); }); }

 private:
  void Run() {
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; })) break;
      }
      Drain();
    }
    // Lines logged before shut-down began still reach the file.
    Drain();
  }

  void Drain() {
    try {
      owner_.TakeLines(FTempBuffer);
      if (!FTempBuffer.empty()) WriteBatch();
    } catch (...) {
    }
    FTempBuffer.clear();
  }

  // Appends the batch in one write. Every failure (folder not writable, a
  // directory or a locked file at the path) drops the batch silently; the
  // next batch tries again with a fresh open. The file is opened without
  // blocking so that a FIFO nobody reads cannot stall the writer forever.
  void WriteBatch() {
    const int fd = ::open(FLogFileName.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) return;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::string data;
    try {
      for (const auto& line : FTempBuffer) {
        data += Utf8ToCp1252(line);
        data += "\r\n";
      }
    } catch (...) {
      ::close(fd);
      throw;
    }
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
  }

  TDXLogger& owner_;
  std::vector<std::string> FTempBuffer;  // the batch being written; writer thread only
  const std::string FLogFileName;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// Lines are kept in chunks of fixed capacity, so that an append never moves
// the lines already buffered (a plain vector would copy all of them under
// the lock whenever it grows, which a stalled writer makes large).
constexpr size_t kChunkLines = 1024;

struct TDXLogger::Impl {
  std::vector<std::vector<std::string>> FLogBuffer;  // guarded by gMonitor
  const std::string FDateFormat = "YYYY-MM-DD hh:nn:ss,zzz";
  std::unique_ptr<TLogThread> FThread;
};

TDXLogger::TDXLogger(const std::string& logFileName) : impl_(std::make_unique<Impl>()) {
  impl_->FThread = std::make_unique<TLogThread>(*this, logFileName);
}

TDXLogger::~TDXLogger() {
  // Stop and join the writer first; it still takes the remaining lines.
  impl_->FThread.reset();
}

TDXLogger& TDXLogger::Instance() {
  std::lock_guard lock(gMonitor);
  if (gTerminating) throw db::EAbort("Logger terminating");
  if (!gInstance) throw db::EAbort("Logger not initialized");
  return *gInstance;
}

void TDXLogger::Log(const std::string& message) {
  std::string line;
  line.reserve(message.size() + 26);
  AppendTimestamp(line);
  line += " | ";
  line += message;
  std::lock_guard lock(gMonitor);
  if (gTerminating) throw db::EAbort("Logger terminating");
  if (!gInstance) throw db::EAbort("Logger not initialized");
  auto& chunks = gInstance->impl_->FLogBuffer;
  if (chunks.empty() || chunks.back().size() == kChunkLines) {
    chunks.emplace_back();
    chunks.back().reserve(kChunkLines);
  }
  chunks.back().push_back(std::move(line));
}

void TDXLogger::TakeLines(std::vector<std::string>& out) {
  std::vector<std::vector<std::string>> chunks;
  {
    std::lock_guard lock(gMonitor);
    chunks.swap(impl_->FLogBuffer);
  }
  if (chunks.size() == 1 && out.empty()) {
    out.swap(chunks.front());
    return;
  }
  size_t total = out.size();
  for (const auto& chunk : chunks) total += chunk.size();
  out.reserve(total);
  for (auto& chunk : chunks)
    for (auto& line : chunk) out.push_back(std::move(line));
}

void TDXLogger::Initialize(const std::string& logFileName) {
  gTimeSeparator.store(SystemFormatSettings().TimeSeparator);
  std::lock_guard lock(gMonitor);
  if (gInstance) return;
  auto* logger = new TDXLogger(logFileName.empty() ? DefaultLogFileName() : logFileName);
  logger->impl_->FThread->Start();
  gInstance = logger;
  gTerminating = false;
}

void TDXLogger::Finalize() {
  std::unique_ptr<TDXLogger> logger;
  {
    std::lock_guard lock(gMonitor);
    gTerminating = true;
    logger.reset(gInstance);
    gInstance = nullptr;
  }
  logger.reset();
}

namespace {

void Emit(bool on, const char* prefix, const std::string& text) {
  if (!on) return;
  try {
    TDXLogger::Log(prefix + text);
  } catch (...) {
    // Logging never fails the caller.
  }
}

}  // namespace

void TLevelLogger::LogError(const std::string& text) const {
  const TKonfiguration& k = Konfiguration();
  Emit(k.ErrorLog || k.InfoLog || k.TraceLog || k.DebugLog, "ERROR | ", text);
}

void TLevelLogger::LogInfo(const std::string& text) const {
  const TKonfiguration& k = Konfiguration();
  Emit(k.InfoLog || k.TraceLog || k.DebugLog, "INFO  | ", text);
}

void TLevelLogger::LogTrace(const std::string& text) const {
  const TKonfiguration& k = Konfiguration();
  Emit(k.TraceLog || k.DebugLog, "TRACE | ", text);
}

void TLevelLogger::LogDebug(const std::string& text) const {
  const TKonfiguration& k = Konfiguration();
  Emit(k.DebugLog, "DEBUG | ", text);
}

}  // namespace tarvo
