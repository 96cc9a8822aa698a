// The tarvoserver program as a process without a graphical session: a copy
// of the binary in a throwaway folder with its tarvoserver.ini, started the
// way the watchdog starts it, ended by SIGTERM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/HostTestSupport.h"

extern char** environ;

namespace {

using tarvo::hosttest::LogText;
using tarvo::hosttest::ReadLines;
using tarvo::hosttest::TempFolder;
using ::testing::Contains;
using ::testing::ElementsAreArray;

#ifdef TARVOSERVER_BIN

// A started program; killed if a test leaves it running.
class Program {
 public:
  Program(const std::string& exe, const std::vector<std::string>& args, const std::string& outFile) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
          v.rfind("QT_QPA_PLATFORM=", 0) == 0)
        continue;
      env.push_back(v);
    }
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Sends `signo` and waits for the end; the exit status, or -1 when the
  // process had to be killed after `timeout`.
  int Terminate(int signo, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    ::kill(pid_, signo);
    int status = 0;
    const bool ended = tarvo::hosttest::WaitFor(
        [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool Running() { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

class TarvoserverProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe = folder.Path() + "tarvoserver";
    std::filesystem::copy_file(TARVOSERVER_BIN, exe);
    port = tarvo::hosttest::FreePort();
    tarvo::hosttest::WriteFile(folder.Path() + "tarvoserver.ini",
                               "TARVO-SERVER-PORT=" + std::to_string(port) +
                                   "\r\nSICHERHEITSSCHLUESSEL=e2e\r\nTRACELOG=JA\r\n");
  }

  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    for (const auto& l : ReadLines(folder.Path() + "tarvoserver.log")) texts.push_back(LogText(l));
    return texts;
  }
  bool Logged(const std::string& text) {
    const auto t = LogTexts();
    return std::find(t.begin(), t.end(), text) != t.end();
  }

  TempFolder folder;
  std::string exe;
  int port = 0;
};

TEST_F(TarvoserverProgramTest, AutostartWithoutDisplayListensUnattendedAndEndsOnSigterm) {
  Program program(exe, {"--autostart"}, folder.Path() + "output.txt");
  ASSERT_TRUE(tarvo::hosttest::WaitFor([&] { return tarvo::hosttest::PortAnswers(port); }))
      << tarvo::hosttest::ReadFile(folder.Path() + "output.txt");
  EXPECT_GT(tarvo::hosttest::HttpGetStatus(port), 0);
  const std::string listening = "INFO  | Listening on Port " + std::to_string(port);
  ASSERT_TRUE(tarvo::hosttest::WaitFor([&] { return Logged(listening); }));

  auto texts = LogTexts();
  ASSERT_EQ(texts.size(), 9u) << ::testing::PrintToString(texts);
  EXPECT_EQ(texts[0], "INFO  | Starting Application...");
  EXPECT_EQ(texts[1], "INFO  | Windows Session ID [0]");
  EXPECT_THAT(texts[2], ::testing::MatchesRegex("INFO  \\| Hauptfenster: HWND \\[[0-9]+\\]"));
  EXPECT_EQ(texts[3], "INFO  | CM_REFRESH_UI: MSG [32769]");
  EXPECT_EQ(texts[4], "INFO  | Ready");
  // The report spooler starts first.
  EXPECT_EQ(texts[5], "INFO  | Starting Spooler...");
  EXPECT_THAT(texts[6], ::testing::MatchesRegex("INFO  \\| Spooler Started: Pool=[0-9]+"));
  EXPECT_EQ(texts[7], "INFO  | Starting Server...");
  EXPECT_EQ(texts[8], listening);
  // The settings were taken over into the file when the listener started.
  EXPECT_THAT(ReadLines(folder.Path() + "tarvoserver.ini"), Contains("SICHERHEITSSCHLUESSEL=e2e"));

  EXPECT_EQ(program.Terminate(SIGTERM), 0);
  EXPECT_FALSE(tarvo::hosttest::PortAnswers(port));
  texts = LogTexts();
  std::vector<std::string> ending;  // the spooler's lock lines are trace lines
  for (auto it = texts.begin() + 9; it != texts.end(); ++it)
    if (it->rfind("TRACE | ", 0) != 0) ending.push_back(*it);
  EXPECT_THAT(ending,
              ElementsAreArray({"INFO  | Ending session [SIGTERM]", "INFO  | Stopping Server...",
                                "INFO  | Server Stopped", "INFO  | Stopping Spooler...", "INFO  | Spooler Stopped"}));
}

TEST_F(TarvoserverProgramTest, WithoutAutostartTheListenerStaysStoppedUntilSigint) {
  Program program(exe, {"--autostart=nein", "autostart"}, folder.Path() + "output.txt");
  ASSERT_TRUE(tarvo::hosttest::WaitFor([&] { return Logged("INFO  | Ready"); }));
  // Give a wrongly started listener the time it would need.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(tarvo::hosttest::PortAnswers(port));
  EXPECT_TRUE(program.Running());
  EXPECT_EQ(program.Terminate(SIGINT), 0);
  EXPECT_FALSE(Logged("INFO  | Starting Server..."));
  EXPECT_TRUE(Logged("INFO  | Ending session [SIGINT]"));
}

#endif  // TARVOSERVER_BIN

}  // namespace
