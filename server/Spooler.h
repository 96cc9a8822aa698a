// The report spooler of the Bridge server: a pool of slots, each running at
// most one report worker at a time and accepting a bounded number of
// waiting jobs, and the cache of earlier results.
//
// One TSpooler lives in the host for the life of the process
// (ServerContext::Spooler); StartSpooler creates a pool from REPORT-POOL,
// StopSpooler discards it. A request goes through three steps:
//
//   Admit      under the spooler lock: the job is read, hashed, given a
//              slot (identical cached job first, then the first idle slot,
//              then the least loaded below REPORT-JOBS) and counted;
//   Execute    under the slot lock: job file, cache hit or worker run;
//   release    (the ticket's destructor) under the spooler lock: uncounted.
//
// Stopping while jobs run: the pool's counts and queues belong to one pool
// generation, which tickets keep alive; a ticket of a discarded generation
// never touches the counts of a later pool. The slot locks themselves are
// per slot index and live as long as the TSpooler, so no lock is ever
// destroyed while a thread holds or waits on it, and the job file and the
// output file of slot N stay serialised across a stop and a new start.
// Jobs that were still waiting for their slot when the pool was discarded
// fail with the unavailable message once they get it.
//
// Threads: StartSpooler and StopSpooler on the GUI thread; Admit, Execute
// and the ticket on request threads. Errors are std::runtime_error with the
// message the web platform is shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/DXLogger.h"
#include "server/ServerContext.h"

namespace tarvo::server {

inline constexpr const char* kReportUnavailableText =
    "Der Report-Dienst steht aktuell nicht zur Verf\xC3\xBCgung. Bitte versuchen Sie es sp\xC3\xA4ter erneut.";
inline constexpr const char* kReportLimitText =
    "Maximale Anzahl an Druckauftr\xC3\xA4gen erreicht. Bitte versuchen Sie es sp\xC3\xA4ter erneut.";

// One report job as read from a request. Texts are UTF-8.
struct TReportJob {
  std::string Bereich;  // upper case
  std::string Art;      // upper case
  std::string Name;     // upper case
  std::string Format = "html";
  std::string Nr;       // empty: none
  // Further parameters in the order they were read; the cache member is
  // among them until BuildJobText takes it out.
  std::vector<std::pair<std::string, std::string>> Params;
  bool Cache = false;
  std::string Text;  // the job file's lines, CR LF each
  std::string Hash;  // SHA-1 of Text as 40 upper-case hex digits

  // Builds Text and Hash from the fields and sets Cache from the member
  // "X-QX-REPORT-CACHE" (name and value "JA" compared ignoring case).
  void BuildJobText();
};

// SHA-1 over the text taken as 7-bit ASCII (every character outside ASCII
// counts as one '?'), 40 upper-case hex digits.
std::string JobHash(const std::string& utf8Text);

// Counts of one pool generation.
struct TReportSlot {
  std::atomic<int> Jobs{0};
  std::deque<std::string> Hashes;  // guarded by the spooler lock
};

struct TReportPool {
  std::vector<std::unique_ptr<TReportSlot>> Slots;
};

class TSpooler;

// An admitted job's claim on its slot. Destroying it releases the slot
// (and the slot lock when Execute took it). Move-only; one thread.
class TSlotTicket {
 public:
  TSlotTicket(TSpooler& spooler, std::shared_ptr<TReportPool> pool, int index);
  ~TSlotTicket();
  TSlotTicket(const TSlotTicket&) = delete;
  TSlotTicket& operator=(const TSlotTicket&) = delete;

  int Index() const { return index_; }

 private:
  friend class TSpooler;
  TSpooler& spooler_;
  std::shared_ptr<TReportPool> pool_;
  int index_;
  std::unique_lock<std::mutex> slotLock_;
};

class TSpooler : public TLevelLogger {
 public:
  // `context` (its spooler lock, session mode, refresh hand-off) must
  // outlive the spooler.
  explicit TSpooler(ServerContext& context);
  ~TSpooler() override;
  TSpooler(const TSpooler&) = delete;
  TSpooler& operator=(const TSpooler&) = delete;

  void StartSpooler();
  void StopSpooler();

  // Admission. `readJob` reads the request into a job; it runs under the
  // spooler lock after the stopped check, and its exceptions pass through.
  // Raises kReportUnavailableText or kReportLimitText.
  std::unique_ptr<TSlotTicket> Admit(const std::function<TReportJob()>& readJob, TReportJob& job);

  // The run in the slot: waits for the slot lock, then `openDatabase`, the
  // job file, the cache or the worker, the output. Returns the document.
  // `closeDatabase` runs however it ends.
  std::string Execute(TSlotTicket& ticket, const TReportJob& job, const std::function<void()>& openDatabase,
                      const std::function<void()>& closeDatabase);

  // Figures: jobs admitted and not finished; slots with a job; waiting jobs.
  int TotalJobs() const { return totalJobs_.load(); }
  int BusySlots() const;
  int SlotCount() const;
  int SlotJobs(int index) const;
  std::vector<std::string> SlotHashes(int index) const;
  bool Stopped() const;

  // The main window's handle as logged with the refresh message.
  void SetWindowHandle(std::uintptr_t handle) { windowHandle_ = handle; }
  std::uintptr_t WindowHandle() const { return windowHandle_.load(); }

  // Where the worker and its files live; BasisPfad of the configuration
  // when empty. Trailing '/'.
  std::string ProgramFolder() const;
  void SetProgramFolder(std::string folder);
  // The cache folder: "cache" in the program folder, without a trailing
  // '/'. Holds only files named by a job hash and ".pdf"; emptying it is
  // safe under the spooler lock while TotalJobs() is 0.
  std::string CacheFolder() const { return ProgramFolder() + "cache"; }

 private:
  friend class TSlotTicket;
  void Release(TSlotTicket& ticket);
  std::mutex& SlotLock(int index);

  ServerContext& context_;
  std::shared_ptr<TReportPool> pool_;  // guarded by the spooler lock
  bool stopped_ = false;               // guarded by the spooler lock
  std::atomic<int> totalJobs_{0};
  std::atomic<std::uintptr_t> windowHandle_{0};

  mutable std::mutex slotLocksGuard_;
  std::map<int, std::unique_ptr<std::mutex>> slotLocks_;  // never shrinks
  mutable std::mutex folderGuard_;
  std::string programFolder_;
};

}  // namespace tarvo::server
