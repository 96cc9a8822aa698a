#include "server/ServerHost.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "common/TextUtil.h"
#include "server/WebServer.h"

namespace tarvo::server {

namespace {

// Session 0 is the session without a desktop. With a desktop the id is
// the process's session; getsid() answers 0 when the session leader lives
// outside our PID namespace (a container), and that id must not be taken
// for session 0, so it counts as a failed query.
std::string DetermineSessionId() {
  if (tarvo::IsSession0()) return "0";
  const pid_t sid = ::getsid(0);
  if (sid <= 0) return {};
  return std::to_string(sid);
}

}  // namespace

int32_t StrToInt(const std::string& text) {
  const std::string t = Trim(text);
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  bool digits = i < t.size();
  for (size_t k = i; k < t.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(t[k]))) digits = false;
  if (digits) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno == 0 && v >= INT32_MIN && v <= INT32_MAX) return static_cast<int32_t>(v);
  }
  throw EConvertError("'" + text + "' is not a valid integer value");
}

ServerHost::ServerHost(ServerContext& context, HostView& view)
    : context_(context), view_(view), FServer(std::make_unique<TWebServer>(context)) {}

ServerHost::~ServerHost() {
  try {
    if (FServer && FServer->Active()) FServer->Stop();
  } catch (...) {
  }
}

void ServerHost::FormCreate(const std::string& basisPfad, const std::vector<std::string>& args) {
  auto& k = Konfiguration();
  k.BasisPfad = basisPfad;
  k.LoadFromFile();
  LogInfo("Starting Application...");

  sessionId_ = DetermineSessionId();
  context_.Session0 = sessionId_ == "0";

  LogInfo("Windows Session ID [" + sessionId_ + "]");
  LogInfo("Hauptfenster: HWND [" + std::to_string(view_.WindowHandle()) + "]");
  LogInfo("CM_REFRESH_UI: MSG [" + std::to_string(CM_REFRESH_UI) + "]");

  context_.OpenConnections = 0;
  view_.ShowSettingsFields(FieldsFromConfiguration());

  view_.RefreshUI();
  LogInfo("Ready");

  for (const auto& arg : args) {
    if (AsciiUpper(arg) != "--AUTOSTART") continue;
    try {
      StartAll();
    } catch (const std::exception& e) {
      ReportError(e.what());
    }
  }
}

void ServerHost::ReportError(const std::string& message) {
  LogError("Error: " + message);
  view_.ShowError(message);
}

void ServerHost::StartAll() {
  StartSpooler();
  StartServer();
  StartEventListener();
}

void ServerHost::ButtonStartClick() { StartAll(); }

void ServerHost::ButtonStopClick() {
  StopEventListener();
  StopServer();
  StopSpooler();
}

void ServerHost::PrepareEnd() {
  try {
    ApplySettings();
  } catch (...) {
  }
  try {
    StopSpooler();
  } catch (const std::exception& e) {
    LogError(std::string("Stopping the spooler failed: ") + e.what());
  } catch (...) {
  }
}

void ServerHost::EndSession(const std::string& reason) {
  LogInfo("Ending session [" + reason + "]");
  try {
    StopEventListener();
  } catch (const std::exception& e) {
    LogError(std::string("Stopping the event listener failed: ") + e.what());
  }
  try {
    if (Active()) StopServer();
  } catch (const std::exception& e) {
    LogError(std::string("Stopping the server failed: ") + e.what());
  }
  try {
    StopSpooler();
  } catch (const std::exception& e) {
    LogError(std::string("Stopping the spooler failed: ") + e.what());
  }
}

void ServerHost::StartServer() {
  if (Active()) return;
  LogInfo("Starting Server...");
  ApplySettings();
  const std::string portText = Konfiguration().TarvoServerPort.get();
  const int32_t port = StrToInt(portText);
  // Port 0 would make the system pick a free port that nobody configured.
  if (port < 1 || port > 65535) throw EConvertError("'" + portText + "' is not a valid port number");
  FServer->Start();
  SetEventGuardTimer(true);
  view_.RefreshUI();
  LogInfo("Listening on Port " + portText);
}

void ServerHost::StopServer() {
  LogInfo("Stopping Server...");
  SetEventGuardTimer(false);
  FServer->Stop();
  view_.RefreshUI();
  LogInfo("Server Stopped");
}

bool ServerHost::Active() const { return FServer->Active(); }

void ServerHost::ApplySettings() {
  auto& k = Konfiguration();
  const HostSettingsFields f = view_.ReadSettingsFields();
  k.TarvoServerPort = Trim(f.Port);
  k.Sicherheitsschluessel = Trim(f.Sicherheitsschluessel);
  k.SetReportTimeout(StrToInt(f.ReportTimeout));
  k.SetReportPool(StrToInt(f.ReportPool));
  k.SetReportJobs(StrToInt(f.ReportJobs));
  k.SetWarnLevel(StrToInt(f.WarnLevel));
  k.Datenbankpfad = Trim(f.Datenbankpfad);
  k.ErrorLog = f.LogLevelIndex == 1;
  k.InfoLog = f.LogLevelIndex == 2;
  k.TraceLog = f.LogLevelIndex == 3;
  k.DebugLog = f.LogLevelIndex == 4;
  k.SaveToFile();
}

void ServerHost::HandleRefreshMessage() {
  LogTrace("Handle Message CM_REFRESH_UI [" + std::to_string(CM_REFRESH_UI) + "]");
  view_.RefreshUI();
}

std::string ServerHost::StateText() const { return Active() ? "GESTARTET" : "ANGEHALTEN"; }

int ServerHost::LogLevelIndexFromConfiguration() {
  const auto& k = Konfiguration();
  if (k.DebugLog) return 4;
  if (k.TraceLog) return 3;
  if (k.InfoLog) return 2;
  if (k.ErrorLog) return 1;
  return 0;
}

HostSettingsFields ServerHost::FieldsFromConfiguration() {
  const auto& k = Konfiguration();
  HostSettingsFields f;
  f.Port = k.TarvoServerPort.get();
  f.Sicherheitsschluessel = k.Sicherheitsschluessel.get();
  f.ReportTimeout = std::to_string(k.FReportTimeout.get());
  f.ReportPool = std::to_string(k.FReportPool.get());
  f.ReportJobs = std::to_string(k.FReportJobs.get());
  f.WarnLevel = std::to_string(k.FWarnLevel.get());
  f.Datenbankpfad = k.Datenbankpfad.get();
  f.LogLevelIndex = LogLevelIndexFromConfiguration();
  return f;
}

}  // namespace tarvo::server
