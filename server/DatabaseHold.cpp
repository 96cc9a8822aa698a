#include "server/DatabaseHold.h"

#include <exception>

#include "common/IBTarvo.h"
#include "common/Konfiguration.h"

namespace tarvo::server {

TDatabaseHold::TDatabaseHold(std::chrono::milliseconds interval) : interval_(interval) {}

TDatabaseHold::~TDatabaseHold() { Stop(); }

void TDatabaseHold::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

void TDatabaseHold::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TDatabaseHold::Run() {
  db::TIBRDATABASE database;
  database.SetConnectTimeout(kConnectTimeoutSeconds);
  std::string lastFailure;  // logged once until the state changes
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    const std::string path = Konfiguration().Datenbankpfad.get();
    if (database.Connected()) {
      bool keep = database.DatabaseName() == path;
      if (keep) {
        try {
          database.AttachmentId();  // one round trip: is the server still there?
        } catch (const std::exception& e) {
          LogDebug(std::string("Database hold lost: ") + e.what());
          keep = false;
        }
      }
      if (!keep) {
        database.Close();
        attachmentId_ = 0;
      }
    }
    if (!database.Connected() && !path.empty()) {
      try {
        database.SetDatabaseName(path);
        database.Open();
        attachmentId_ = database.AttachmentId();
        LogDebug("Database held open: " + path);
        lastFailure.clear();
      } catch (const std::exception& e) {
        database.Close();
        attachmentId_ = 0;
        const std::string failure = path + ": " + e.what();
        if (failure != lastFailure) LogDebug("Database hold failed: " + failure);
        lastFailure = failure;
      }
    }
    lock.lock();
    wake_.wait_for(lock, interval_, [this] { return stopping_; });
  }
  lock.unlock();
  database.Close();
  attachmentId_ = 0;
}

}  // namespace tarvo::server
