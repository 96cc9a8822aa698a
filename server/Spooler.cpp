#include "server/Spooler.h"

#include <fcntl.h>
#include <openssl/sha.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/Codepage.h"
#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "server/WorkerProcess.h"

namespace tarvo::server {
namespace fs = std::filesystem;

namespace {

std::string Upper(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  if (f.bad()) return false;
  out = std::move(s).str();
  return true;
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Locks the spooler lock with the four trace lines of one trace id.
class SpoolerGuard {
 public:
  SpoolerGuard(TSpooler& log, std::mutex& m, const char* suffix)
      : log_(log), lock_(m, std::defer_lock), suffix_(suffix), id_(NewTraceId()) {
    log_.LogTrace(id_ + " | Enter Spooler Critical Section (Request)" + suffix_);
    lock_.lock();
    log_.LogTrace(id_ + " | Enter Spooler Critical Section (Success)" + suffix_);
  }
  ~SpoolerGuard() {
    log_.LogTrace(id_ + " | Leave Spooler Critical Section (Request)" + suffix_);
    lock_.unlock();
    log_.LogTrace(id_ + " | Leave Spooler Critical Section (Success)" + suffix_);
  }

 private:
  TSpooler& log_;
  std::unique_lock<std::mutex> lock_;
  std::string suffix_;
  std::string id_;
};

std::runtime_error Failure(const char* what, const TReportJob& job) {
  return std::runtime_error(std::string(what) + "bereich=" + job.Bereich + ", art=" + job.Art + ", name=" + job.Name);
}

}  // namespace

// ---- the job ---------------------------------------------------------------

std::string JobHash(const std::string& utf8Text) {
  std::string ascii;
  ascii.reserve(utf8Text.size());
  for (size_t i = 0; i < utf8Text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8Text[i]);
    if (c < 0x80) {
      ascii.push_back(static_cast<char>(c));
    } else if ((c & 0xC0) != 0x80) {
      ascii.push_back('?');  // the lead byte stands for the character
    }
  }
  unsigned char digest[SHA_DIGEST_LENGTH];
  ::SHA1(reinterpret_cast<const unsigned char*>(ascii.data()), ascii.size(), digest);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : digest) {
    out.push_back(hex[b >> 4]);
    out.push_back(hex[b & 15]);
  }
  return out;
}

void TReportJob::BuildJobText() {
  const std::string nr = Nr.empty() ? "0" : Nr;
  Text = "BEREICH=" + Bereich + "\r\nART=" + Art + "\r\nNAME=" + Name + "\r\nFORMAT=" + Format +
         "\r\nPARAM__NR=" + nr + "\r\nPARAM_NR=" + nr + "\r\n";
  Cache = false;
  for (const auto& [name, value] : Params) {
    if (Upper(name) == "X-QX-REPORT-CACHE") {
      if (Upper(value) == "JA") Cache = true;
      continue;
    }
    Text += "PARAM_" + name + "=" + value + "\r\n";
  }
  Hash = JobHash(Text);
}

// ---- the ticket -------------------------------------------------------------

TSlotTicket::TSlotTicket(TSpooler& spooler, std::shared_ptr<TReportPool> pool, int index)
    : spooler_(spooler), pool_(std::move(pool)), index_(index) {}

TSlotTicket::~TSlotTicket() { spooler_.Release(*this); }

// ---- the spooler -------------------------------------------------------------

TSpooler::TSpooler(ServerContext& context) : context_(context) {}

TSpooler::~TSpooler() = default;

std::string TSpooler::ProgramFolder() const {
  {
    std::lock_guard g(folderGuard_);
    if (!programFolder_.empty()) return programFolder_;
  }
  std::string folder = Konfiguration().BasisPfad.get();
  if (!folder.empty() && folder.back() != '/') folder.push_back('/');
  return folder;
}

void TSpooler::SetProgramFolder(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder.push_back('/');
  std::lock_guard g(folderGuard_);
  programFolder_ = std::move(folder);
}

std::mutex& TSpooler::SlotLock(int index) {
  std::lock_guard g(slotLocksGuard_);
  auto& p = slotLocks_[index];
  if (!p) p = std::make_unique<std::mutex>();
  return *p;
}

void TSpooler::StartSpooler() {
  LogInfo("Starting Spooler...");
  {
    std::lock_guard g(context_.SpoolerLock);
    if (pool_ && !pool_->Slots.empty()) {
      LogInfo("Spooler already started: Pool=" + std::to_string(pool_->Slots.size()));
      return;
    }
  }
  const int p = Konfiguration().FReportPool.get();
  auto pool = std::make_shared<TReportPool>();
  for (int i = 0; i < p; ++i) {
    pool->Slots.push_back(std::make_unique<TReportSlot>());
    SlotLock(i);
  }
  {
    // Requests read the pool under this lock; publishing it under the lock
    // keeps them from seeing a half-built one.
    std::lock_guard g(context_.SpoolerLock);
    pool_ = std::move(pool);
    stopped_ = false;
  }
  LogInfo("Spooler Started: Pool=" + std::to_string(p > 0 ? p : 0));
}

void TSpooler::StopSpooler() {
  LogInfo("Stopping Spooler...");
  {
    std::lock_guard g(context_.SpoolerLock);
    if (!pool_ || pool_->Slots.empty()) {
      stopped_ = true;
      LogInfo("Spooler already stopped");
      return;
    }
  }
  {
    SpoolerGuard g(*this, context_.SpoolerLock, ": Stopping");
    stopped_ = true;
    // Jobs still holding or waiting for a slot keep the discarded pool
    // alive through their tickets; they find it is no longer current and
    // leave the next pool's figures alone. The slot locks stay.
    pool_.reset();
    totalJobs_.store(0);
  }
  LogInfo("Spooler Stopped");
}

int TSpooler::BusySlots() const {
  std::lock_guard g(context_.SpoolerLock);
  int n = 0;
  if (pool_)
    for (const auto& s : pool_->Slots) n += s->Jobs.load() > 0 ? 1 : 0;
  return n;
}

int TSpooler::SlotCount() const {
  std::lock_guard g(context_.SpoolerLock);
  return pool_ ? static_cast<int>(pool_->Slots.size()) : 0;
}

int TSpooler::SlotJobs(int index) const {
  std::lock_guard g(context_.SpoolerLock);
  if (!pool_ || index < 0 || index >= static_cast<int>(pool_->Slots.size())) return 0;
  return pool_->Slots[index]->Jobs.load();
}

std::vector<std::string> TSpooler::SlotHashes(int index) const {
  std::lock_guard g(context_.SpoolerLock);
  if (!pool_ || index < 0 || index >= static_cast<int>(pool_->Slots.size())) return {};
  const auto& q = pool_->Slots[index]->Hashes;
  return {q.begin(), q.end()};
}

bool TSpooler::Stopped() const {
  std::lock_guard g(context_.SpoolerLock);
  return stopped_ || !pool_ || pool_->Slots.empty();
}

std::unique_ptr<TSlotTicket> TSpooler::Admit(const std::function<TReportJob()>& readJob, TReportJob& job) {
  SpoolerGuard g(*this, context_.SpoolerLock, "");
  if (stopped_ || !pool_ || pool_->Slots.empty()) throw std::runtime_error(kReportUnavailableText);
  job = readJob();
  job.BuildJobText();

  auto& slots = pool_->Slots;
  const int n = static_cast<int>(slots.size());
  int chosen = -1;
  if (job.Cache) {
    for (int i = 0; i < n && chosen < 0; ++i) {
      for (const auto& queued : slots[i]->Hashes) {
        LogTrace("Checking for identical Report-Job: hash=" + job.Hash + ", queuedHash=" + queued +
                 ", poolIndex=" + std::to_string(i));
        if (queued == job.Hash) {
          chosen = i;
          break;
        }
      }
    }
    if (chosen >= 0)
      LogTrace("Identical Report-Job found: hash=" + job.Hash + ", poolIndex=" + std::to_string(chosen));
    else
      LogTrace("No identical Report-Job found: hash=" + job.Hash);
  }
  if (chosen < 0) {
    const int limit = Konfiguration().FReportJobs.get();
    int best = -1;
    for (int i = 0; i < n; ++i) {
      const int jobs = slots[i]->Jobs.load();
      if (jobs == 0) {
        chosen = i;
        break;
      }
      if (jobs < limit && (best < 0 || jobs < slots[best]->Jobs.load())) best = i;
    }
    if (chosen < 0) chosen = best;
  }
  if (chosen < 0) throw std::runtime_error(kReportLimitText);

  slots[chosen]->Hashes.push_back(job.Hash);
  slots[chosen]->Jobs.fetch_add(1);
  totalJobs_.fetch_add(1);
  return std::make_unique<TSlotTicket>(*this, pool_, chosen);
}

void TSpooler::Release(TSlotTicket& ticket) {
  SpoolerGuard g(*this, context_.SpoolerLock, "");
  const bool current = !stopped_ && pool_ && pool_ == ticket.pool_;
  if (ticket.slotLock_.owns_lock()) {
    const std::string id = NewTraceId();
    LogTrace(id + " | Leave Critical Section (Request): Report Pool");
    ticket.slotLock_.unlock();
    LogTrace(id + " | Leave Critical Section (Success): Report Pool");
  }
  if (!current) return;  // that pool is gone; the present one is not ours
  auto& slot = *pool_->Slots[ticket.index_];
  if (!slot.Hashes.empty()) slot.Hashes.pop_front();
  slot.Jobs.fetch_sub(1);
  totalJobs_.fetch_sub(1);
}

std::string TSpooler::Execute(TSlotTicket& ticket, const TReportJob& job, const std::function<void()>& openDatabase,
                              const std::function<void()>& closeDatabase) {
  const int index = ticket.index_;
  const std::string slotText = std::to_string(index);
  {
    const std::string id = NewTraceId();
    LogTrace(id + " | Enter Critical Section (Request): Report Pool: poolIndex=" + slotText +
             ", poolJobs=" + std::to_string(ticket.pool_->Slots[index]->Jobs.load()) +
             ", totalJobs=" + std::to_string(totalJobs_.load()));
    ticket.slotLock_ = std::unique_lock<std::mutex>(SlotLock(index));
    LogTrace(id + " | Enter Critical Section (Success): Report Pool");
  }
  {
    // Jobs that waited while the pool was discarded do not run in the
    // next pool's slot.
    std::lock_guard g(context_.SpoolerLock);
    if (stopped_ || pool_ != ticket.pool_) throw std::runtime_error(kReportUnavailableText);
  }

  struct Closer {
    const std::function<void()>& f;
    ~Closer() {
      if (f) f();
    }
  } closer{closeDatabase};
  if (openDatabase) openDatabase();

  const std::string folder = ProgramFolder();
  const std::string iniPath = folder + "tarvoreport" + slotText + ".ini";
  const std::string pdfPath = folder + "tarvoreport" + slotText + ".pdf";
  const std::string cacheFolder = CacheFolder();
  const std::string cachePath = cacheFolder + "/" + job.Hash + ".pdf";

  LogTrace("Saving Print Parameters: " + iniPath);
  {
    std::ofstream f(iniPath, std::ios::binary | std::ios::trunc);
    f << Utf8ToCp1252(job.Text);
    f.close();
    if (!f) throw std::runtime_error("Saving Print Parameters failed: " + iniPath);
  }

  bool cacheHit = false;
  if (job.Cache && FileExists(cachePath)) {
    LogTrace("Found PDF File in Cache: " + cachePath);
    cacheHit = true;
  }

  if (FileExists(pdfPath)) {
    LogTrace("Deleting PDF File: " + pdfPath);
    std::error_code ec;
    if (!fs::remove(pdfPath, ec) || ec) LogError("Deleting PDF File failed: " + pdfPath);
  }

  std::string bytes;
  if (cacheHit) {
    if (!ReadWholeFile(cachePath, bytes)) throw Failure("Reportfehler: ", job);
    LogTrace("Cached Report loaded");
    return bytes;
  }

  const std::string program = folder + "tarvoreport";
  LogTrace("Starting Print Process: " + program);
  LogTrace("Executing tarvoreport.exe: HWND=0, poolIndex=" + slotText);
  std::unique_ptr<TWorkerProcess> worker;
  try {
    worker = std::make_unique<TWorkerProcess>(program, std::vector<std::string>{"tarvoreport", "--WEB",
                                                                              "--POOL=" + slotText});
  } catch (const std::exception& e) {
    LogError("Executing Process tarvoreport.exe failed");
    LogDebug(std::string("Exception: ") + e.what());
    throw Failure("Ausf\xC3\xBChrung des Druckprozesses fehlgeschlagen: ", job);
  }
  const std::string handle = std::to_string(worker->Pid());
  LogTrace("Process tarvoreport.exe started: hProcess=" + handle + ", poolIndex=" + slotText);

  // The deadline counts from the start of the worker.
  const int timeout = Konfiguration().FReportTimeout.get();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout > 0 ? timeout : 1);
  LogTrace("Report Timer started");
  bool timedOut = false;
  const bool ended = worker->Wait(deadline, [&] {
    timedOut = true;
    LogError("Timeout: Cancelling report...");
    LogTrace("Kill Process [" + handle + "]");
  });
  if (!ended && worker->Running()) LogError("Killing Process failed [" + handle + "]");
  LogTrace("Waiting for tarvoreport.exe: hProcess=" + handle + ", ExitCode=" + std::to_string(worker->ExitCode()) +
           ", poolIndex=" + slotText);
  LogTrace("Closing Process Handle: hProcess=" + handle + ", poolIndex=" + slotText);
  worker.reset();
  if (timedOut) {
    const std::string text = Failure("Reportfehler: ", job).what();
    LogError(text);
    throw std::runtime_error(text);
  }

  if (!FileExists(pdfPath)) {
    const std::string text = Failure("Reportfehler: ", job).what();
    LogError(text);
    throw std::runtime_error(text);
  }
  LogTrace("Reading PDF File: " + pdfPath);
  if (!ReadWholeFile(pdfPath, bytes)) {
    const std::string text = Failure("Reportfehler: ", job).what();
    LogError(text);
    throw std::runtime_error(text);
  }
  LogTrace("Report created");
  if (job.Cache) {
    try {
      std::error_code ec;
      fs::create_directories(cacheFolder, ec);
      // A plain rename that refuses to replace an existing file.
      if (::renameat2(AT_FDCWD, pdfPath.c_str(), AT_FDCWD, cachePath.c_str(), RENAME_NOREPLACE) != 0)
        throw std::runtime_error(std::string(std::strerror(errno)) + ": " + cachePath);
      LogTrace("Report moved to Cache: " + job.Hash + ".pdf");
    } catch (const std::exception& e) {
      LogError(std::string("Moving Report to Cache failed: ") + e.what());
    }
  }
  return bytes;
}

}  // namespace tarvo::server
