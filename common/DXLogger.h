// The log writer: callers append time-stamped lines to a buffer in memory;
// a background thread (TLogThread) moves them to the log file every 100 ms.
// Callers never touch the disk. The file is the executable's name with
// ".log" beside it, Windows-1252, CR LF; it is opened, appended to and
// closed once per batch, and a batch that cannot be written is dropped.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/IBTarvo.h"  // EAbort

namespace tarvo {

class TLogThread;

class TDXLogger {
 public:
  // The singleton. Raises db::EAbort("Logger terminating") after shut-down
  // began, db::EAbort("Logger not initialized") before start-up.
  static TDXLogger& Instance();
  // Appends "YYYY-MM-DD hh:nn:ss,zzz | " + message; any thread.
  static void Log(const std::string& message);

  // Start-up and shut-down of the process-wide logger. `logFileName` empty:
  // the running executable's path with the extension replaced by ".log".
  // Initialize while a logger runs does nothing; after Finalize it starts a
  // new one. Finalize stops and joins the writer thread; lines logged before
  // it was called are still written, later calls of Log raise
  // "Logger terminating". Call it from one thread, not while another thread
  // holds the reference returned by Instance().
  static void Initialize(const std::string& logFileName = {});
  static void Finalize();

  // Appends every buffered line to `out` and empties the buffer (used by
  // the writer thread). Holds the lock only for a swap.
  void TakeLines(std::vector<std::string>& out);

  ~TDXLogger();

 private:
  explicit TDXLogger(const std::string& logFileName);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Level methods with cumulative switches read from the live configuration
// at every call; they never raise. Classes that log derive from this or own
// one.
class TLevelLogger {
 public:
  virtual ~TLevelLogger() = default;
  void LogError(const std::string& text) const;  // "ERROR | "; ERRORLOG, INFOLOG, TRACELOG or DEBUGLOG
  void LogInfo(const std::string& text) const;   // "INFO  | "; INFOLOG, TRACELOG or DEBUGLOG
  void LogTrace(const std::string& text) const;  // "TRACE | "; TRACELOG or DEBUGLOG
  void LogDebug(const std::string& text) const;  // "DEBUG | "; DEBUGLOG
};

}  // namespace tarvo
