// The settings record shared by the three programs, and the reader and
// writer of tarvoserver.ini in the installation folder.
//
// Threads: the record has no lock of its own. Every field may be read on any
// thread while another thread writes it: a reader sees the whole old or the
// whole new value, never a torn one. Writers from request threads hold the
// server's event lock around the change and the following SaveToFile.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/DateTime.h"

namespace tarvo {

// A string field that one thread may replace while others read it.
class SharedString {
 public:
  SharedString() = default;
  SharedString(std::string value) : value_(std::make_shared<const std::string>(std::move(value))) {}
  SharedString(const SharedString& other) : value_(other.snapshot()) {}
  SharedString& operator=(const SharedString& other) {
    auto v = other.snapshot();
    std::lock_guard lock(mutex_);
    value_ = std::move(v);
    return *this;
  }
  SharedString& operator=(std::string value) {
    set(std::move(value));
    return *this;
  }

  std::string get() const { return *snapshot(); }
  operator std::string() const { return get(); }
  void set(std::string value) {
    auto v = std::make_shared<const std::string>(std::move(value));
    std::lock_guard lock(mutex_);
    value_ = std::move(v);
  }

 private:
  std::shared_ptr<const std::string> snapshot() const {
    std::lock_guard lock(mutex_);
    return value_ ? value_ : Empty();
  }
  static const std::shared_ptr<const std::string>& Empty() {
    static const auto empty = std::make_shared<const std::string>();
    return empty;
  }
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> value_;
};

// A bool or integer field readable on any thread; copyable like a value.
template <typename T>
class SharedValue {
 public:
  SharedValue(T value = T{}) : value_(value) {}
  SharedValue(const SharedValue& other) : value_(other.get()) {}
  SharedValue& operator=(const SharedValue& other) {
    set(other.get());
    return *this;
  }
  SharedValue& operator=(T value) {
    set(value);
    return *this;
  }
  T get() const { return value_.load(std::memory_order_acquire); }
  operator T() const { return get(); }
  void set(T value) { value_.store(value, std::memory_order_release); }

 private:
  std::atomic<T> value_;
};

struct TKonfiguration {
  // Fields in declaration order; the comment names the key in the file.
  SharedString FWebplattformURL;       // WEBPLATTFORM-URL, through SetWebplattformURL
  SharedString FDevWebplattformURL;    // DEV-WEBPLATTFORM-URL, through SetDevWebplattformURL
  SharedString BasisPfad;              // not stored: folder of the executable, trailing '/'
  SharedString TarvoServerPort;        // TARVO-SERVER-PORT
  SharedString Sicherheitsschluessel;  // SICHERHEITSSCHLUESSEL
  SharedString Datenbankpfad;          // DATENBANKPFAD
  SharedValue<bool> AutoUpdate;        // AUTO-UPDATE
  SharedString AutoUpdateTime;         // AUTO-UPDATE-TIME
  SharedString AutoUpdateAufgabe;      // AUTO-UPDATE-AUFGABE
  SharedValue<bool> Events;            // EVENTS
  SharedString EventsNames;            // EVENTS-NAMES
  SharedValue<bool> Dienst;            // DIENST
  SharedString DienstName;             // DIENST-NAME
  SharedValue<int32_t> FReportTimeout{30};  // REPORT-TIMEOUT
  SharedValue<int32_t> FReportPool{5};      // REPORT-POOL
  SharedValue<int32_t> FReportJobs{3};      // REPORT-JOBS
  SharedValue<int32_t> FWarnLevel{3};       // WARN-LEVEL
  SharedValue<int32_t> FDienstInterval{20};  // DIENST-INTERVAL
  SharedValue<int32_t> FDienstVersuche{3};   // DIENST-VERSUCHE
  SharedValue<bool> TestseitePublic;   // never stored
  SharedValue<bool> DevMode;           // DEV-MODE
  SharedValue<bool> UpdateTest;        // UPDATE-TEST
  SharedValue<bool> InfoLog;           // INFOLOG
  SharedValue<bool> ErrorLog;          // ERRORLOG
  SharedValue<bool> TraceLog;          // TRACELOG
  SharedValue<bool> DebugLog;          // DEBUGLOG

  // Resets every field but BasisPfad to its default and applies the keys of
  // BasisPfad + "tarvoserver.ini". Never fails: a missing, unreadable or
  // binary file gives the defaults.
  void LoadFromFile();
  // Writes the 24 keys in their fixed order, Windows-1252, CR LF. Failures
  // are swallowed.
  void SaveToFile() const;

  std::string GetAppVersion() const;      // "major.minor" compiled in
  std::string GetBetriebssystem() const;  // one line; "?" on failure
  std::string GetEffectiveWebplattformURL() const;
  bool IsLocalURL(const std::string& url) const;
  DateTime GetAutoUpdateTime() const;  // zero date; 00:00 on any failure
  bool ContainsEvent(const std::string& name) const;
  bool MatchesWebplattformURL(const std::string& value) const;

  void SetWebplattformURL(const std::string& value);
  void SetDevWebplattformURL(const std::string& value);
  void SetReportTimeout(int32_t value);  // values below 1 store 1
  void SetReportPool(int32_t value);
  void SetReportJobs(int32_t value);
  void SetWarnLevel(int32_t value);
  void SetDienstInterval(int32_t value);
  void SetDienstVersuche(int32_t value);

  // Path of the file: BasisPfad joined with "tarvoserver.ini".
  std::string FileName() const;
};

// The process-wide instance, alive from program start to end.
TKonfiguration& Konfiguration();

// The production platform address used as the default of FWebplattformURL.
extern const char* const kProductionWebplattformURL;

}  // namespace tarvo
