// The host logic with the real HTTP listener over loopback: start and stop,
// the settings taken over into tarvoserver.ini, the start-up sequence and
// its log lines, session-0 mode and the refresh hand-off.
#include "server/ServerHost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>

#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "support/HostTestSupport.h"

namespace tarvo::server {
namespace {

using hosttest::LogText;
using hosttest::ScopedEnv;
using hosttest::ReadLines;
using hosttest::TempFolder;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// One log file for the whole test program; each test reads the lines that
// appeared between two markers of its own.
std::string& LogFile() {
  static std::string path = "/tmp/tarvo-host-tests-" + std::to_string(::getpid()) + ".log";
  return path;
}

class LoggerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { TDXLogger::Initialize(LogFile()); }
  void TearDown() override {
    TDXLogger::Finalize();
    ::unlink(LogFile().c_str());
  }
};
const auto* const kLoggerEnv = ::testing::AddGlobalTestEnvironment(new LoggerEnvironment);

class FakeView : public HostView {
 public:
  std::uintptr_t WindowHandle() const override { return 4711; }
  HostSettingsFields ReadSettingsFields() const override { return fields; }
  void ShowSettingsFields(const HostSettingsFields& f) override {
    fields = f;
    ++shown;
  }
  void RefreshUI() override { ++refreshes; }
  void ShowError(const std::string& message) override { errors.push_back(message); }

  HostSettingsFields fields;
  int shown = 0;
  int refreshes = 0;
  std::vector<std::string> errors;
};

// Records the order in which the spooler and event listener hooks run.
class RecordingHost : public ServerHost {
 public:
  using ServerHost::ServerHost;
  void StartSpooler() override { calls.push_back(Active() ? "StartSpooler(listening)" : "StartSpooler"); }
  void StopSpooler() override { calls.push_back(Active() ? "StopSpooler(listening)" : "StopSpooler"); }
  void StartEventListener() override {
    calls.push_back(Active() ? "StartEventListener(listening)" : "StartEventListener");
  }
  void StopEventListener() override {
    calls.push_back(Active() ? "StopEventListener(listening)" : "StopEventListener");
  }
  std::vector<std::string> calls;
};

class ServerHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& k = Konfiguration();
    k.BasisPfad = folder.Path();
    k.LoadFromFile();
    k.TraceLog = true;  // the markers below need a switch on
    port = hosttest::FreePort();
    view.fields = {std::to_string(port), " schluessel ", "30", "5", "3", "3",
                   "localhost/3050:/tmp/x.fdb", 3};
    Mark();
  }

  // Logs a marker and waits until the writer has put it into the file;
  // returns the texts logged since the previous marker.
  std::vector<std::string> Mark() {
    static int markers = 0;
    const std::string marker = "test-marker-" + std::to_string(++markers);
    logger_.LogInfo(marker);
    std::vector<std::string> lines;
    EXPECT_TRUE(hosttest::WaitFor([&] {
      lines = ReadLines(LogFile());
      return std::any_of(lines.begin(), lines.end(),
                         [&](const std::string& l) { return LogText(l) == "INFO  | " + marker; });
    })) << marker;
    std::vector<std::string> texts;
    bool inside = lastMarker_.empty();
    for (const auto& l : lines) {
      const std::string t = LogText(l);
      if (t == "INFO  | " + marker) break;
      if (inside) texts.push_back(t);
      if (t == "INFO  | " + lastMarker_) inside = true;
    }
    lastMarker_ = marker;
    return texts;
  }

  std::string IniValue(const std::string& key) {
    for (const auto& l : ReadLines(folder.Path() + "tarvoserver.ini"))
      if (l.rfind(key + "=", 0) == 0) return l.substr(key.size() + 1);
    return "<missing>";
  }

  TempFolder folder;
  int port = 0;
  FakeView view;
  ServerContext context;

 private:
  TLevelLogger logger_;
  std::string lastMarker_;
};

TEST_F(ServerHostTest, StartServesOverLoopbackAndStopClosesThePort) {
  ServerHost host(context, view);
  EXPECT_EQ(host.StateText(), "ANGEHALTEN");

  host.StartServer();
  EXPECT_TRUE(host.Active());
  EXPECT_EQ(host.StateText(), "GESTARTET");
  EXPECT_GT(hosttest::HttpGetStatus(port), 0);
  EXPECT_EQ(Konfiguration().TarvoServerPort.get(), std::to_string(port));
  EXPECT_EQ(Konfiguration().Sicherheitsschluessel.get(), "schluessel");  // trimmed

  host.StopServer();
  EXPECT_FALSE(host.Active());
  EXPECT_EQ(host.StateText(), "ANGEHALTEN");
  EXPECT_FALSE(hosttest::PortAnswers(port));
  EXPECT_THAT(Mark(), ElementsAre("INFO  | Starting Server...",
                                  "INFO  | Listening on Port " + std::to_string(port),
                                  "INFO  | Stopping Server...", "INFO  | Server Stopped"));
  EXPECT_EQ(view.refreshes, 2);

  // Stopped means startable again on the same port.
  host.StartServer();
  EXPECT_TRUE(hosttest::PortAnswers(port));
}

TEST_F(ServerHostTest, SecondStartReturnsWithoutLoggingOrTouchingTheSettings) {
  ServerHost host(context, view);
  host.StartServer();
  Mark();
  view.fields.Datenbankpfad = "changed";
  host.StartServer();
  EXPECT_TRUE(host.Active());
  EXPECT_THAT(Mark(), ElementsAre());
  EXPECT_EQ(Konfiguration().Datenbankpfad.get(), "localhost/3050:/tmp/x.fdb");
}

TEST_F(ServerHostTest, BadFieldsLeaveTheListenerStopped) {
  struct Case {
    const char* what;
    std::string HostSettingsFields::*field;
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {"port not a number", &HostSettingsFields::Port, "50a00", "'50a00' is not a valid integer value"},
      {"port empty", &HostSettingsFields::Port, "  ", "'' is not a valid integer value"},
      {"port beyond 16 bits", &HostSettingsFields::Port, "70000", "'70000' is not a valid port number"},
      {"port zero", &HostSettingsFields::Port, "0", "'0' is not a valid port number"},
      {"report pool", &HostSettingsFields::ReportPool, "5x", "'5x' is not a valid integer value"},
      {"warn level", &HostSettingsFields::WarnLevel, "", "'' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServerHost host(context, view);
    view.fields.Port = std::to_string(port);
    view.fields.*c.field = c.value;
    try {
      host.StartServer();
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(host.Active());
    EXPECT_EQ(host.StateText(), "ANGEHALTEN");
    view.fields.*c.field = "7";
  }
  EXPECT_FALSE(hosttest::PortAnswers(port));
}

TEST_F(ServerHostTest, NonIntegerReportFieldSkipsTheRestAndTheSave) {
  ServerHost host(context, view);
  view.fields.ReportTimeout = "dreißig";
  view.fields.Datenbankpfad = "not/taken";
  EXPECT_THROW(host.ApplySettings(), EConvertError);
  EXPECT_EQ(Konfiguration().TarvoServerPort.get(), std::to_string(port));  // taken before the error
  EXPECT_NE(Konfiguration().Datenbankpfad.get(), "not/taken");
  EXPECT_EQ(IniValue("TARVO-SERVER-PORT"), "<missing>");  // nothing written
}

TEST_F(ServerHostTest, UsedPortFailsTheStartWithTheSocketError) {
  hosttest::PortOccupant occupant(port);
  ServerHost host(context, view);
  try {
    host.StartServer();
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STRNE(e.what(), "");
  }
  EXPECT_FALSE(host.Active());
  EXPECT_EQ(host.StateText(), "ANGEHALTEN");
  const auto lines = Mark();
  EXPECT_THAT(lines, ElementsAre("INFO  | Starting Server..."));
}

TEST_F(ServerHostTest, LogLevelBoxSetsExactlyOneSwitch) {
  const char* keys[] = {"ERRORLOG", "INFOLOG", "TRACELOG", "DEBUGLOG"};
  for (int index = 0; index <= 4; ++index) {
    SCOPED_TRACE(kLogLevelItems[index]);
    ServerHost host(context, view);
    view.fields.LogLevelIndex = index;
    host.ApplySettings();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(IniValue(keys[k]), index == k + 1 ? "JA" : "NEIN") << keys[k];
    EXPECT_EQ(ServerHost::LogLevelIndexFromConfiguration(), index);
  }
}

TEST_F(ServerHostTest, LogLevelBoxShowsTheHighestSwitch) {
  auto& k = Konfiguration();
  k.ErrorLog = true;
  k.TraceLog = false;
  EXPECT_EQ(ServerHost::LogLevelIndexFromConfiguration(), 1);
  k.DebugLog = true;  // DEBUG together with ERROR shows DEBUG
  EXPECT_EQ(ServerHost::LogLevelIndexFromConfiguration(), 4);
  k.DebugLog = false;
  k.InfoLog = true;
  EXPECT_EQ(ServerHost::LogLevelIndexFromConfiguration(), 2);
}

TEST_F(ServerHostTest, ButtonsRunSpoolerListenerAndEventListenerInOrder) {
  RecordingHost host(context, view);
  host.ButtonStartClick();
  EXPECT_THAT(host.calls, ElementsAre("StartSpooler", "StartEventListener(listening)"));
  host.calls.clear();
  host.ButtonStopClick();
  EXPECT_THAT(host.calls, ElementsAre("StopEventListener(listening)", "StopSpooler"));

  // A failing listener start comes after the spooler start and before the
  // event listener.
  host.calls.clear();
  view.fields.Port = "kein Port";
  EXPECT_THROW(host.ButtonStartClick(), EConvertError);
  EXPECT_THAT(host.calls, ElementsAre("StartSpooler"));
  EXPECT_FALSE(host.Active());
}

TEST_F(ServerHostTest, PrepareEndSavesTheFieldsAndStopsTheSpoolerEvenAfterABadField) {
  RecordingHost host(context, view);
  host.PrepareEnd();
  EXPECT_EQ(IniValue("DATENBANKPFAD"), "localhost/3050:/tmp/x.fdb");
  EXPECT_THAT(host.calls, ElementsAre("StopSpooler"));

  host.calls.clear();
  view.fields.ReportJobs = "drei";
  EXPECT_NO_THROW(host.PrepareEnd());
  EXPECT_THAT(host.calls, ElementsAre("StopSpooler"));
}

TEST_F(ServerHostTest, EndSessionStopsEverythingRunning) {
  RecordingHost host(context, view);
  host.ButtonStartClick();
  host.calls.clear();
  host.EndSession("SIGTERM");
  EXPECT_FALSE(host.Active());
  EXPECT_FALSE(hosttest::PortAnswers(port));
  EXPECT_THAT(host.calls, ElementsAre("StopEventListener(listening)", "StopSpooler"));
  EXPECT_THAT(Mark(), ::testing::Contains("INFO  | Server Stopped"));
}

// The start-up sequence with the argument lists that do and do not start.
TEST_F(ServerHostTest, FormCreateLogsTheStartUpAndStartsOnlyForAutostart) {
  struct Case {
    std::vector<std::string> args;
    bool starts;
  };
  const Case cases[] = {
      {{}, false},
      {{"--autostart"}, true},
      {{"--AUTOSTART"}, true},
      {{"-x", "--AutoStart"}, true},
      {{"--autostart=1", "autostart", "/AUTOSTART"}, false},
  };
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    hosttest::WriteFile(folder.Path() + "tarvoserver.ini",
                        "TARVO-SERVER-PORT=" + std::to_string(port) +
                            "\r\nSICHERHEITSSCHLUESSEL=k\r\nREPORT-POOL=4\r\nTRACELOG=JA\r\n");
    FakeView v;
    RecordingHost host(context, v);
    host.FormCreate(folder.Path(), c.args);

    EXPECT_EQ(v.shown, 1);
    EXPECT_EQ(v.fields.Port, std::to_string(port));
    EXPECT_EQ(v.fields.ReportPool, "4");
    EXPECT_EQ(v.fields.ReportTimeout, "30");
    EXPECT_EQ(v.fields.LogLevelIndex, 3);
    EXPECT_TRUE(v.errors.empty());
    EXPECT_EQ(host.Active(), c.starts);
    EXPECT_EQ(hosttest::PortAnswers(port), c.starts);

    std::vector<std::string> expected = {
        "INFO  | Starting Application...",         "INFO  | Windows Session ID [0]",
        "INFO  | Hauptfenster: HWND [4711]",       "INFO  | CM_REFRESH_UI: MSG [32769]",
        "INFO  | Ready"};
    if (c.starts) {
      expected.push_back("INFO  | Starting Server...");
      expected.push_back("INFO  | Listening on Port " + std::to_string(port));
      EXPECT_THAT(host.calls, ElementsAre("StartSpooler", "StartEventListener(listening)"));
    } else {
      EXPECT_THAT(host.calls, ElementsAre());
    }
    EXPECT_THAT(Mark(), ElementsAreArray(expected));
  }
}

TEST_F(ServerHostTest, AutostartOnAUsedPortReportsWithoutStoppingStartUp) {
  hosttest::PortOccupant occupant(port);
  hosttest::WriteFile(folder.Path() + "tarvoserver.ini",
                      "TARVO-SERVER-PORT=" + std::to_string(port) + "\r\nTRACELOG=JA\r\n");
  RecordingHost host(context, view);
  host.FormCreate(folder.Path(), {"--autostart"});
  EXPECT_FALSE(host.Active());
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_THAT(host.calls, ElementsAre("StartSpooler"));
  const auto lines = Mark();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "ERROR | Error: " + view.errors[0]);
  EXPECT_THAT(lines, ::testing::Contains("INFO  | Ready"));
}

// The listener counts connections and asks for refreshes only when a
// graphical session can show them.
TEST_F(ServerHostTest, SessionIdAndRefreshPostingFollowTheGraphicalSession) {
  std::atomic<int> posted{0};
  struct Case {
    const char* display;
    std::string sessionId;
    bool posts;
  };
  const Case cases[] = {
      {nullptr, "0", false},
      // Inside a PID namespace getsid() answers 0: still no session 0.
      {":77", ::getsid(0) > 0 ? std::to_string(::getsid(0)) : "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display ? c.display : "no display");
    ScopedEnv display("DISPLAY", c.display);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    hosttest::WriteFile(folder.Path() + "tarvoserver.ini",
                        "TARVO-SERVER-PORT=" + std::to_string(port) + "\r\nTRACELOG=JA\r\n");
    posted = 0;
    ServerContext ctx;
    ctx.PostRefreshUI = [&] { ++posted; };
    ServerHost host(ctx, view);
    host.FormCreate(folder.Path(), {"--autostart"});
    EXPECT_EQ(host.SessionId(), c.sessionId);
    EXPECT_EQ(ctx.Session0, c.sessionId == "0");
    ASSERT_TRUE(host.Active());

    {
      hosttest::HeldConnection connection(port);
      EXPECT_TRUE(hosttest::WaitFor([&] { return host.Connections() == 1; }));
    }
    EXPECT_TRUE(hosttest::WaitFor([&] { return host.Connections() == 0; }));
    if (c.posts)
      EXPECT_GE(posted.load(), 2);
    else
      EXPECT_EQ(posted.load(), 0);
  }
}

TEST_F(ServerHostTest, RefreshMessageIsLoggedAndRefreshes) {
  ServerHost host(context, view);
  const int before = view.refreshes;
  host.HandleRefreshMessage();
  EXPECT_EQ(view.refreshes, before + 1);
  EXPECT_THAT(Mark(), ElementsAre("TRACE | Handle Message CM_REFRESH_UI [32769]"));
}

TEST(StrToIntTest, AcceptsOnlyWholeIntegers) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt(" -7 "), -7);
  EXPECT_EQ(StrToInt("+2147483647"), 2147483647);
  for (const char* bad : {"", "-", "4 2", "1e3", "0x10", "2147483648", "12a"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
}

}  // namespace
}  // namespace tarvo::server
