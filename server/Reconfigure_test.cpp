#include "server/Reconfigure.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "common/testing/TestFiles.h"

namespace tarvo::server {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;
using tarvo::testing::ReadFile;

class ReconfigureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("tarvo_reconf_" + std::to_string(getpid()) + "/");
    std::filesystem::create_directories(dir_);
    static bool logging = false;
    if (!logging) {
      TDXLogger::Initialize(dir_ + "reconfigure.log");
      logging = true;
    }
    logFile_ = dir_ + "reconfigure.log";
    TKonfiguration& k = Konfiguration();
    k.BasisPfad = dir_;
    k.EventsNames = "ALT_A,ALT_B";
    k.Events = true;
    k.InfoLog = true;
    k.SaveToFile();
    before_ = ReadFile(k.FileName());
    ASSERT_NE(before_.find("EVENTS-NAMES=ALT_A,ALT_B\r\n"), std::string::npos);
  }
  void TearDown() override {
    Konfiguration().InfoLog = false;
  }

  // The log once it holds `marker` (the writer runs every 100 ms).
  std::string LogWith(const std::string& marker) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
      text = Cp1252ToUtf8(ReadFile(logFile_));
      if (text.find(marker) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
  }

  std::string FileNow() const { return ReadFile(Konfiguration().FileName()); }

  std::string dir_;
  std::string logFile_;
  std::string before_;
  ServerContext context_;
};

TEST_F(ReconfigureTest, EventNamesAndTheEventsSwitch) {
  struct Case {
    std::string command;
    Params params;
    std::string names;  // expected afterwards
    bool events;
  };
  const Case cases[] = {
      {"TARVOSERVER:INI:EVENTS-NAMES=CHANGELOG, FIS_LOG", {{"EVENTS", "NEIN"}}, "CHANGELOG, FIS_LOG", false},
      {"TARVOSERVER:INI:EVENTS-NAMES=X", {}, "X", true},
      {"TARVOSERVER:INI:EVENTS-NAMES=Y", {{"EVENTS", ""}}, "Y", true},
      {"TARVOSERVER:INI:EVENTS-NAMES=Z", {{"events", "NEIN"}}, "Z", true},  // the name is compared exactly
      {"TARVOSERVER:INI:EVENTS-NAMES=A=B=C", {{"EVENTS", "ja"}}, "A", false},  // "ja" is not "JA"
      {"TARVOSERVER:INI:EVENTS-NAMES=", {{"EVENTS", "JA"}}, "", true},
      {"TARVOSERVER:INI:EVENTS-NAMES= mit Blanks ", {}, " mit Blanks ", true},
  };
  for (const auto& c : cases) {
    Konfiguration().EventsNames = "ALT";
    Konfiguration().Events = true;
    ConfigureTarvoserver(context_, c.command, c.params);
    EXPECT_EQ(Konfiguration().EventsNames.get(), c.names) << c.command;
    EXPECT_EQ(Konfiguration().Events.get(), c.events) << c.command;
    const std::string file = FileNow();
    EXPECT_NE(file.find("\r\nEVENTS-NAMES=" + c.names + "\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find(std::string("\r\nEVENTS=") + (c.events ? "JA" : "NEIN") + "\r\n"), std::string::npos);
  }
}

TEST_F(ReconfigureTest, CommandsThatChangeNothing) {
  const std::pair<std::string, Params> cases[] = {
      {"TARVOSERVER:INI:EVENTS=JA", {{"EVENTS", "NEIN"}}},  // only EVENTS-NAMES is acted on
      {"TARVOSERVER:INI:DATENBANKPFAD=x", {}},
      {"TARVOSERVER:RESTART", {{"EVENTS", "NEIN"}}},
      {"TARVOSERVER:ini:EVENTS-NAMES=X", {}},
  };
  for (const auto& [command, params] : cases) {
    ConfigureTarvoserver(context_, command, params);
    EXPECT_EQ(Konfiguration().EventsNames.get(), "ALT_A,ALT_B") << command;
    EXPECT_TRUE(Konfiguration().Events.get()) << command;
    EXPECT_EQ(FileNow(), before_) << command;
  }
  const std::string log = LogWith("Configuring TARVOserver [TARVOSERVER:ini:EVENTS-NAMES=X]");
  EXPECT_NE(log.find("INFO  | Configuring TARVOserver [TARVOSERVER:INI:EVENTS=JA]\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO  | Configuring TARVOserver [EVENTS] => [NEIN]\r\n"), std::string::npos);
  EXPECT_NE(log.find("INFO  | Configuring TARVOserver [TARVOSERVER:INI:DATENBANKPFAD=x]\r\n"
                     "20"), std::string::npos);
  EXPECT_NE(log.find("INFO  | Configuring TARVOserver [No Parameters]\r\n"), std::string::npos);
  EXPECT_EQ(log.find("Configuring TARVOserver failed"), std::string::npos);
}

TEST_F(ReconfigureTest, FailedCommandsChangeNothingAndLeaveTheFileWhole) {
  const std::pair<std::string, Params> cases[] = {
      {"TARVOSERVER:INI:EVENTS-NAMES", {{"EVENTS", "NEIN"}}},
      // A line break would add keys of its own to the file.
      {"TARVOSERVER:INI:EVENTS-NAMES=A\r\nDATENBANKPFAD=/tmp/fremd.fdb", {{"EVENTS", "NEIN"}}},
      {"TARVOSERVER:INI:EVENTS-NAMES=A\tB", {}},
      // The file is Windows-1252: a value it cannot hold.
      {"TARVOSERVER:INI:EVENTS-NAMES=\xE2\x88\x9E", {{"EVENTS", "NEIN"}}},
      {"TARVOSERVER:INI:EVENTS-NAMES=\xFF\xFE", {}},
  };
  for (const auto& [command, params] : cases) {
    ConfigureTarvoserver(context_, command, params);
    EXPECT_EQ(Konfiguration().EventsNames.get(), "ALT_A,ALT_B") << command;
    EXPECT_TRUE(Konfiguration().Events.get()) << command;
    EXPECT_EQ(FileNow(), before_) << command;
  }
  const std::string log = LogWith("Configuring TARVOserver failed [value has characters");
  EXPECT_NE(log.find("ERROR | Configuring TARVOserver failed [missing '=' in EVENTS-NAMES]"), std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR | Configuring TARVOserver failed [value contains control characters]"),
            std::string::npos);
  // Umlauts are fine: the code page has them.
  ConfigureTarvoserver(context_, "TARVOSERVER:INI:EVENTS-NAMES=\xC3\x84NDERUNG", {});
  EXPECT_EQ(Konfiguration().EventsNames.get(), "\xC3\x84NDERUNG");
  EXPECT_NE(FileNow().find("EVENTS-NAMES=\xC4NDERUNG\r\n"), std::string::npos);
}

TEST_F(ReconfigureTest, LockBracketSharesOneTraceId) {
  Konfiguration().TraceLog = true;
  ConfigureTarvoserver(context_, "TARVOSERVER:INI:EVENTS-NAMES=KLAMMER", {});
  Konfiguration().TraceLog = false;
  const std::string log = LogWith("Leave Critical Section (Success): Configure Tarvoserver");
  const std::string phases[] = {"Enter Critical Section (Request)", "Enter Critical Section (Success)",
                                "Configuring TARVOserver [TARVOSERVER:INI:EVENTS-NAMES=KLAMMER]",
                                "Leave Critical Section (Request)", "Leave Critical Section (Success)"};
  size_t at = log.rfind(" | Enter Critical Section (Request): Configure Tarvoserver");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string id = log.substr(at - 38, 38);
  EXPECT_EQ(id.front(), '{');
  EXPECT_EQ(id.back(), '}');
  at -= 38;
  for (const auto& phase : phases) {
    const std::string line = phase.rfind("Configuring", 0) == 0 ? phase : id + " | " + phase + ": Configure Tarvoserver";
    const size_t p = log.find(line, at);
    EXPECT_NE(p, std::string::npos) << line << "\n" << log.substr(at);
    if (p != std::string::npos) at = p;
  }
}

TEST_F(ReconfigureTest, TakesTheEventLock) {
  std::unique_lock lock(context_.EventLock);
  std::atomic<bool> done{false};
  std::thread t([&] {
    ConfigureTarvoserver(context_, "TARVOSERVER:INI:EVENTS-NAMES=GESPERRT", {});
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(done);
  EXPECT_EQ(Konfiguration().EventsNames.get(), "ALT_A,ALT_B");
  lock.unlock();
  t.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(Konfiguration().EventsNames.get(), "GESPERRT");
}

}  // namespace
}  // namespace tarvo::server
