// A web server test that turns the debug and trace log on and reads the
// log file back.
#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/Codepage.h"
#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "tests/server/E2EFixture.h"

namespace tarvo::testing_web {

class LoggingWebServerTest : public WebServerTest {
 protected:
  // Every logging test of this program writes to the same file: the logger
  // is started once per process.
  void StartLogging() {
    logFile_ = basis_ + "web_test.log";
    static bool started = false;
    if (!started) {
      TDXLogger::Initialize(logFile_);
      started = true;
    }
    Konfiguration().DebugLog = true;
    Konfiguration().TraceLog = true;
  }
  void StopLogging() {
    Konfiguration().DebugLog = false;
    Konfiguration().TraceLog = false;
  }

  // The log's text once it holds `marker` `count` times (the writer runs
  // every 100 ms).
  std::string LogWith(const std::string& marker, size_t count = 1) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
      std::ifstream in(logFile_, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      text = Cp1252ToUtf8(ss.str());
      size_t n = 0;
      for (size_t p = text.find(marker); p != std::string::npos; p = text.find(marker, p + 1)) ++n;
      if (n >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
  }

  std::string logFile_;
};

}  // namespace tarvo::testing_web
