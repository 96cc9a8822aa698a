// Keeps the configured database open in the database server while the
// HTTP listener runs, by holding one idle attachment to it.
//
// Every request attaches and detaches on its own. Without another
// attachment the database server opens the database for each of them and
// closes it again afterwards (about 60 ms for a report request here), and
// two attachments that open it at the same moment wait about a second for
// each other (Firebird 3). A held attachment spares both.
//
// The hold follows Konfiguration().Datenbankpfad: a changed path moves it,
// a lost connection (the database server restarted) is replaced, and a
// database that cannot be reached is tried again at each check, without
// ever delaying a request. An attach waits at most kConnectTimeoutSeconds
// for the database server's host, so Stop never waits longer than that.
// Its log lines are debug lines: requests report their own database errors.
//
// Threads: Start and Stop from one thread; the attachment lives on a
// thread of its own that Stop joins.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/DXLogger.h"

namespace tarvo::server {

class TDatabaseHold : public TLevelLogger {
 public:
  static constexpr int kConnectTimeoutSeconds = 5;

  // `interval`: time between two checks of the attachment.
  explicit TDatabaseHold(std::chrono::milliseconds interval = std::chrono::seconds(10));
  ~TDatabaseHold() override;  // stops
  TDatabaseHold(const TDatabaseHold&) = delete;
  TDatabaseHold& operator=(const TDatabaseHold&) = delete;

  // Returns at once; the thread attaches. No-op while running.
  void Start();
  // Detaches and joins the thread. No-op while stopped.
  void Stop();

  // The held attachment's id (MON$ATTACHMENT_ID), 0 while none is held.
  int64_t AttachmentId() const { return attachmentId_.load(); }

 private:
  void Run();

  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::atomic<int64_t> attachmentId_{0};
  std::thread thread_;
};

}  // namespace tarvo::server
