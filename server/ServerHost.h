// The Bridge server's host logic without a window: the start-up sequence of
// the main window, start and stop of the HTTP listener together with the
// report spooler and the database event listener, the taking over of the
// settings fields into the configuration, and the hand-off of display
// refreshes to the GUI thread.
//
// The main window (THauptForm) owns one ServerHost and forwards its buttons
// and events to it; tests drive it with a plain HostView and no display.
//
// Threads: everything here runs on the GUI thread. The listener's
// connection threads count open connections in ServerContext, ask for
// refreshes through ServerContext::PostRefreshUI (not in session-0 mode) and
// log "HTTP-Server-Exception: " for errors that escape a request. Errors
// travel as exceptions (std::runtime_error and derived) with a message
// text; the window shows or logs them.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/DXLogger.h"
#include "server/ServerContext.h"

namespace tarvo::server {

class TWebServer;

// Number of the message that asks the main window to refresh its display
// (WM_APP + 1). Here it is the type of a queued Qt event.
inline constexpr int CM_REFRESH_UI = 32769;

// Items of the log level box, index 0 to 4.
inline constexpr const char* kLogLevelItems[] = {"OFF", "ERROR", "INFO", "TRACE", "DEBUG"};

// Raised when a settings field does not hold an integer; what() names the text.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Converts like the settings fields need it: optional blanks around an
// optional sign and decimal digits that fit 32 bits. Anything else raises
// EConvertError("'<text>' is not a valid integer value").
int32_t StrToInt(const std::string& text);

// The texts of the main window's settings fields as they stand.
struct HostSettingsFields {
  std::string Port;
  std::string Sicherheitsschluessel;
  std::string ReportTimeout;
  std::string ReportPool;
  std::string ReportJobs;
  std::string WarnLevel;
  std::string Datenbankpfad;
  int LogLevelIndex = 0;  // index into kLogLevelItems
};

// What the host needs from its window; every call on the GUI thread.
class HostView {
 public:
  virtual ~HostView() = default;
  // Native handle of the window as a number (logged at start-up).
  virtual std::uintptr_t WindowHandle() const = 0;
  virtual HostSettingsFields ReadSettingsFields() const = 0;
  virtual void ShowSettingsFields(const HostSettingsFields& fields) = 0;
  // Brings the controls up to date; runs on the GUI thread only.
  virtual void RefreshUI() = 0;
  // Reports an error to the person at the window. In session-0 mode it must
  // not wait for anybody.
  virtual void ShowError(const std::string& message) = 0;
};

class ServerHost : public TLevelLogger {
 public:
  // `context` and `view` must outlive the host.
  ServerHost(ServerContext& context, HostView& view);
  // Stops the listener when it still runs (destroying an active listener
  // closes it); does not touch the configuration file.
  ~ServerHost() override;
  ServerHost(const ServerHost&) = delete;
  ServerHost& operator=(const ServerHost&) = delete;

  // The window's start-up sequence: configuration from `basisPfad` (folder
  // of the executable, trailing '/'), session id, the start-up log lines,
  // the settings fields, the first refresh, and for an argument
  // "--AUTOSTART" (any letter case) the start of spooler, listener and
  // event listener. A failure of that start is logged and shown through
  // HostView::ShowError; start-up itself continues.
  void FormCreate(const std::string& basisPfad, const std::vector<std::string>& args);

  // "Starten": StartSpooler, StartServer, StartEventListener. Raises the
  // error of the step that failed; earlier steps stay done.
  void ButtonStartClick();
  // "Anhalten": StopEventListener, StopServer, StopSpooler.
  void ButtonStopClick();
  // "Beenden" after the person said Yes: ApplySettings and StopSpooler,
  // both ignoring errors. The caller then ends the application.
  void PrepareEnd();
  // The process is told to end by the operating system (SIGTERM, SIGINT,
  // SIGHUP: the session ends): event listener, listener and spooler are
  // stopped. The configuration file is not written.
  void EndSession(const std::string& reason);

  // Starts the HTTP listener unless it is active: ApplySettings, then binds
  // the configured port. Raises EConvertError for a field or port that is
  // not an integer and std::runtime_error when the port cannot be bound;
  // the listener then stays stopped.
  void StartServer();
  void StopServer();
  bool Active() const;

  // Copies the settings fields into the configuration and saves the file.
  // Raises EConvertError for an integer field that is not an integer; the
  // fields after it and the save are then skipped.
  void ApplySettings();

  // An error of a button or of the autostart: logged at error level, then
  // handed to HostView::ShowError.
  void ReportError(const std::string& message);

  // Handler of CM_REFRESH_UI on the GUI thread.
  void HandleRefreshMessage();

  // Session id of the process as decimal text: "0" in session-0 mode (no
  // graphical session), else the process's session id (getsid); empty when
  // that query fails or answers 0 (a session leader outside our PID namespace).
  const std::string& SessionId() const { return sessionId_; }
  int Connections() const { return context_.OpenConnections.load(); }
  // "GESTARTET" while the listener is active, else "ANGEHALTEN".
  std::string StateText() const;
  // Log level box index that the configuration's switches select.
  static int LogLevelIndexFromConfiguration();
  // The settings fields as the configuration holds them.
  static HostSettingsFields FieldsFromConfiguration();

  // Hooks of the report spooler and the database event listener. Their
  // owners fill these bodies; until then they do nothing.
  // The report spooler (server/HostSpooler.cpp): created on the first
  // start and kept in ServerContext::Spooler for the life of the context.
  virtual void StartSpooler();
  virtual void StopSpooler();
  virtual void StartEventListener() {}
  virtual void StopEventListener() {}
  // The event listener's one-minute guard timer follows the listener.
  virtual void SetEventGuardTimer(bool enabled) { (void)enabled; }
  // Figures for the status bar: unfinished event tasks, active report slots
  // and waiting report jobs.
  virtual int RunningEventTasks() const { return 0; }
  virtual int ActiveReports() const;
  virtual int WaitingReports() const;

 protected:
  ServerContext& context_;
  HostView& view_;

 private:
  void StartAll();
  std::unique_ptr<TWebServer> FServer;
  std::string sessionId_;
};

}  // namespace tarvo::server
