#include "server/WorkerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarvo::server {

TWorkerProcess::TWorkerProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Listening sockets and connections of the server stay with the server.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The worker starts with default signal handling and an empty mask,
  // whatever the request thread had.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  // A process group of its own, so that a kill also ends what the worker
  // started.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error(program + ": " + std::strerror(rc));
  }
  // The child is not reaped before we wait for it, so its pid cannot be
  // taken by another process in between.
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd_ >= 0) ::fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
}

TWorkerProcess::~TWorkerProcess() {
  if (pid_ > 0 && !reaped_) Kill();
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool TWorkerProcess::Reap(bool block) {
  if (reaped_) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  reaped_ = true;
  if (r < 0) {
    exitCode_ = -1;  // reaped by somebody else
  } else if (WIFEXITED(status)) {
    exitCode_ = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exitCode_ = 128 + WTERMSIG(status);
  }
  return true;
}

bool TWorkerProcess::Wait(std::chrono::steady_clock::time_point deadline, const std::function<void()>& onTimeout) {
  using namespace std::chrono;
  while (!Reap(false)) {
    const auto now = steady_clock::now();
    if (now >= deadline) {
      if (onTimeout) onTimeout();
      Kill();
      return false;
    }
    const auto left = duration_cast<milliseconds>(deadline - now).count() + 1;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      const int n = ::poll(&p, 1, static_cast<int>(left > 60000 ? 60000 : left));
      if (n < 0 && errno != EINTR) std::this_thread::sleep_for(milliseconds(5));
    } else {
      std::this_thread::sleep_for(milliseconds(left < 5 ? left : 5));
    }
  }
  return true;
}

bool TWorkerProcess::Kill() {
  if (pid_ <= 0 || reaped_) return true;
  bool ok = ::kill(-pid_, SIGKILL) == 0 || ::kill(pid_, SIGKILL) == 0 || errno == ESRCH;
  Reap(true);
  return ok;
}

}  // namespace tarvo::server
