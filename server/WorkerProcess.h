// One started report worker process, waited on through the process itself
// (a pidfd), so that its end is noticed at once, with a deadline after
// which it is killed.
//
// Threads: one owner thread. The destructor kills and reaps a process that
// is still running, so no child is left behind on any path.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarvo::server {

class TWorkerProcess {
 public:
  // Starts `program` with `args` (argv[0] is the program's file name), its
  // standard streams on /dev/null, no inherited descriptors, in a process
  // group of its own. Throws
  // std::runtime_error with the system's reason when it cannot be started
  // (missing, not executable).
  TWorkerProcess(const std::string& program, const std::vector<std::string>& args);
  ~TWorkerProcess();
  TWorkerProcess(const TWorkerProcess&) = delete;
  TWorkerProcess& operator=(const TWorkerProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // A handle to wait on: the pidfd, or 0 when the kernel gives none (the
  // wait then polls the process every few milliseconds).
  int Handle() const { return pidfd_ >= 0 ? pidfd_ : 0; }

  // Waits until the process ends or `deadline` passes. At the deadline
  // `onTimeout` runs once and the process is killed (SIGKILL) and reaped.
  // Returns true when it ended on its own; ExitCode() then holds its exit
  // status (128 + signal number when a signal ended it).
  bool Wait(std::chrono::steady_clock::time_point deadline, const std::function<void()>& onTimeout);
  int ExitCode() const { return exitCode_; }
  bool Running() const { return !reaped_; }

  // Kills (SIGKILL, the whole process group) and reaps; false when the
  // kill failed.
  bool Kill();

 private:
  bool Reap(bool block);

  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  int exitCode_ = 259;  // still active
};

}  // namespace tarvo::server
