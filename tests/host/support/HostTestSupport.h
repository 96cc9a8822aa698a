// Helpers of the host tests: throwaway folders, free loopback ports, the
// log file written by the background log writer.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/testing/TestFiles.h"

namespace tarvo::hosttest {

// A fresh folder under /tmp, removed with its content on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // With a trailing '/'.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A loopback port that nothing listened on a moment ago.
int FreePort();
// Listens on 0.0.0.0:port without SO_REUSEADDR/SO_REUSEPORT, so that no
// other socket can bind the port while it lives.
class PortOccupant {
 public:
  explicit PortOccupant(int port);
  ~PortOccupant();
  PortOccupant(const PortOccupant&) = delete;
  PortOccupant& operator=(const PortOccupant&) = delete;

 private:
  int fd_ = -1;
};

// An open TCP connection to 127.0.0.1:port that sends nothing.
class HeldConnection {
 public:
  explicit HeldConnection(int port);
  ~HeldConnection();
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

 private:
  int fd_ = -1;
};

// True when a TCP connection to 127.0.0.1:port is accepted.
bool PortAnswers(int port);
// GET "/" on the port; the HTTP status, 0 when no answer came.
int HttpGetStatus(int port);

using tarvo::testing::ReadFile;
void WriteFile(const std::string& path, const std::string& content);
// Lines without their CR LF.
std::vector<std::string> ReadLines(const std::string& path);

// Sets (value) or removes (nullptr) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Polls `done` every 20 ms until it holds or `timeout` passed.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The text after "<time stamp> | " of a log line ("INFO  | Ready").
std::string LogText(const std::string& line);

}  // namespace tarvo::hosttest
