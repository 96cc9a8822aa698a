#include "common/DXLogger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "common/testing/TestFiles.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tarvo::testing::ReadFile;

// Each test gets its own log file and the four switches off; the logger is
// shut down afterwards whatever the test did.
class LogWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvo-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ + "/x.log";
    SetSwitches(false, false, false, false);
  }
  void TearDown() override {
    TDXLogger::Finalize();
    SetSwitches(false, false, false, false);
    fs::remove_all(dir_);
  }
  static void SetSwitches(bool error, bool info, bool trace, bool debug) {
    Konfiguration().ErrorLog = error;
    Konfiguration().InfoLog = info;
    Konfiguration().TraceLog = trace;
    Konfiguration().DebugLog = debug;
  }
  // True once `text` is in the file; the writer runs every 100 ms.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = 5s) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (ReadFile(file_).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::string dir_;
  std::string file_;
  TLevelLogger log_;
};

TEST_F(LogWriter, SwitchesAreCumulativeLevels) {
  struct Case {
    const char* name;
    bool error, info, trace, debug;
    const char* expected;  // first letters of the prefixes that appear
  } cases[] = {
      {"all off", false, false, false, false, ""},
      {"ERRORLOG", true, false, false, false, "E"},
      {"INFOLOG", false, true, false, false, "EI"},
      {"TRACELOG", false, false, true, false, "EIT"},
      {"DEBUGLOG", false, false, false, true, "EITD"},
      {"ERRORLOG and TRACELOG", true, false, true, false, "EIT"},
  };
  for (const auto& c : cases) {
    fs::remove(file_);
    TDXLogger::Initialize(file_);
    SetSwitches(c.error, c.info, c.trace, c.debug);
    log_.LogError("e");
    log_.LogInfo("i");
    log_.LogTrace("t");
    log_.LogDebug("d");
    TDXLogger::Finalize();
    const std::string text = ReadFile(file_);
    std::string seen;
    if (text.find(" | ERROR | e\r\n") != std::string::npos) seen += 'E';
    if (text.find(" | INFO  | i\r\n") != std::string::npos) seen += 'I';
    if (text.find(" | TRACE | t\r\n") != std::string::npos) seen += 'T';
    if (text.find(" | DEBUG | d\r\n") != std::string::npos) seen += 'D';
    EXPECT_EQ(seen, c.expected) << c.name;
    if (seen.empty()) {
      EXPECT_FALSE(fs::exists(file_)) << c.name;
    }
  }
}

TEST_F(LogWriter, SwitchChangeTakesEffectWithTheNextCall) {
  TDXLogger::Initialize(file_);
  log_.LogError("vorher");
  SetSwitches(true, false, false, false);
  log_.LogError("nachher");
  SetSwitches(false, false, false, false);
  log_.LogError("wieder aus");
  TDXLogger::Finalize();
  const std::string text = ReadFile(file_);
  EXPECT_EQ(text.find("vorher"), std::string::npos);
  EXPECT_NE(text.find("nachher"), std::string::npos);
  EXPECT_EQ(text.find("wieder aus"), std::string::npos);
}

TEST_F(LogWriter, LineFormatEncodingAndLineBreaks) {
  TDXLogger::Initialize(file_);
  SetSwitches(true, false, false, false);
  log_.LogError("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE2\x9C\x93");  // ü ß € and a check mark
  TDXLogger::Log("zwei\r\nZeilen");
  TDXLogger::Finalize();
  const std::string text = ReadFile(file_);
  const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3} \| )");
  const auto first = text.find("\r\n");
  ASSERT_NE(first, std::string::npos);
  const std::string line1 = text.substr(0, first);
  ASSERT_TRUE(std::regex_search(line1, stamp, std::regex_constants::match_continuous)) << line1;
  EXPECT_EQ(line1.substr(26), "ERROR | Gr\xFC\xDF" "e \x80 ?");
  // The message's own line break stays; only its first line has a time stamp.
  const std::string rest = text.substr(first + 2);
  ASSERT_TRUE(std::regex_search(rest, stamp, std::regex_constants::match_continuous)) << rest;
  EXPECT_EQ(rest.substr(26), "zwei\r\nZeilen\r\n");

  // The time stamp is the local time of the call.
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char day[16];
  strftime(day, sizeof day, "%Y-%m-%d", &local);
  EXPECT_EQ(line1.substr(0, 10), day);
}

TEST_F(LogWriter, WriterAppendsWhileTheProgramRuns) {
  std::ofstream(file_, std::ios::binary) << "alte Zeile\r\n";
  TDXLogger::Initialize(file_);
  TDXLogger::Log("erste");
  ASSERT_TRUE(WaitFor("erste"));
  TDXLogger::Log("zweite");
  ASSERT_TRUE(WaitFor("zweite"));
  const std::string text = ReadFile(file_);
  EXPECT_EQ(text.rfind("alte Zeile\r\n", 0), 0u);  // appended, never truncated
  EXPECT_LT(text.find("erste"), text.find("zweite"));
}

TEST_F(LogWriter, UnwritableTargetDropsBatchesAndResumes) {
  struct Blocker {
    const char* name;
    void (*block)(const std::string& dir, const std::string& file);
    void (*unblock)(const std::string& dir, const std::string& file);
  } blockers[] = {
      {"directory at the file's path",
       [](const std::string&, const std::string& f) { fs::create_directory(f); },
       [](const std::string&, const std::string& f) { fs::remove(f); }},
      {"folder missing",
       [](const std::string& d, const std::string&) { fs::remove_all(d); },
       [](const std::string& d, const std::string&) { fs::create_directory(d); }},
      {"file without permissions",
       [](const std::string&, const std::string& f) {
         std::ofstream(f) << "";
         chmod(f.c_str(), 0);
       },
       [](const std::string&, const std::string& f) { chmod(f.c_str(), 0644); }},
  };
  for (const auto& b : blockers) {
    if (std::string(b.name) == "file without permissions" && geteuid() == 0) continue;  // root writes anyway
    fs::remove_all(file_);
    fs::create_directories(dir_);
    TDXLogger::Initialize(file_);
    b.block(dir_, file_);
    TDXLogger::Log(std::string("verloren ") + b.name);
    std::this_thread::sleep_for(600ms);  // several writer rounds fail
    b.unblock(dir_, file_);
    TDXLogger::Log(std::string("wieder da ") + b.name);
    EXPECT_TRUE(WaitFor(std::string("wieder da ") + b.name)) << b.name;
    EXPECT_EQ(ReadFile(file_).find("verloren"), std::string::npos) << b.name;
    TDXLogger::Finalize();
  }
}

TEST_F(LogWriter, AfterShutDownNothingIsLoggedAndNothingRaised) {
  TDXLogger::Initialize(file_);
  SetSwitches(false, false, false, true);
  log_.LogDebug("vor dem Ende");
  TDXLogger::Finalize();
  // Lines logged before the shut-down are written by the writer's last round.
  EXPECT_NE(ReadFile(file_).find("vor dem Ende"), std::string::npos);

  try {
    TDXLogger::Instance();
    ADD_FAILURE() << "Instance() after Finalize must raise";
  } catch (const db::EAbort& e) {
    EXPECT_STREQ(e.what(), "Logger terminating");
  }
  EXPECT_THROW(TDXLogger::Log("direkt"), db::EAbort);
  EXPECT_NO_THROW(log_.LogError("danach"));
  EXPECT_NO_THROW(log_.LogDebug("danach"));
  EXPECT_NO_THROW(TDXLogger::Finalize());  // a second shut-down is harmless
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(ReadFile(file_).find("danach"), std::string::npos);
  EXPECT_EQ(ReadFile(file_).find("direkt"), std::string::npos);
}

TEST(LogWriterStartUp, BeforeStartUpInstanceRaisesAndLevelMethodsDoNothing) {
  // Runs in a freshly started copy of this test program, where no logger
  // has existed yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Konfiguration().DebugLog = true;
        TLevelLogger().LogError("zu frueh");
        int code = 3;
        try {
          TDXLogger::Log("zu frueh");
        } catch (const db::EAbort& e) {
          code = std::string(e.what()) == "Logger not initialized" ? 0 : 2;
        }
        try {
          TDXLogger::Instance();
          code = 4;
        } catch (const db::EAbort&) {
        }
        std::_Exit(code);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(LogWriter, ConcurrentCallersLoseNothingAndKeepTheirOrder) {
  TDXLogger::Initialize(file_);
  SetSwitches(false, false, true, false);
  constexpr int kThreads = 8, kLines = 3000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) log_.LogTrace("T" + std::to_string(t) + " #" + std::to_string(i));
    });
  for (auto& th : threads) th.join();
  TDXLogger::Finalize();

  std::istringstream in(ReadFile(file_));
  std::vector<int> next(kThreads, 0);
  int lines = 0;
  for (std::string line; std::getline(in, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    const auto t = line.find(" | TRACE | T");
    ASSERT_NE(t, std::string::npos) << line;
    const int thread = std::stoi(line.substr(t + 12));
    const int index = std::stoi(line.substr(line.find('#') + 1));
    ASSERT_EQ(index, next[thread]) << "thread " << thread;
    ++next[thread];
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

TEST_F(LogWriter, DefaultFileIsTheExecutableWithLogExtension) {
  const std::string expected = ExecutablePath() + ".log";  // the test program has no extension
  fs::remove(expected);
  TDXLogger::Initialize();
  TDXLogger::Log("Standarddatei");
  TDXLogger::Finalize();
  EXPECT_NE(ReadFile(expected).find("Standarddatei"), std::string::npos);
  fs::remove(expected);
}

}  // namespace
}  // namespace tarvo
