#include "report/testing/ReportTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/IBTarvo.h"

extern char** environ;

namespace tarvo::reporttest {

namespace fs = std::filesystem;

nlohmann::json Check(const std::string& kind, const fs::path& file) {
  const std::string script = std::string(TARVO_SOURCE_DIR) + "/tests/report/check_export.py";
  const std::string out = Shell("python3 '" + script + "' " + kind + " '" + file.string() + "' 2>&1");
  try {
    return nlohmann::json::parse(out);
  } catch (const std::exception&) {
    ADD_FAILURE() << "reader failed: " << out;
    return nlohmann::json::object();
  }
}

::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& words,
                                   size_t shown) {
  size_t at = 0;
  for (const auto& w : words) {
    const size_t found = text.find(w, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "\"" << w << "\" missing after offset " << at << " in:\n"
                                           << text.substr(0, shown);
    at = found + w.size();
  }
  return ::testing::AssertionSuccess();
}

std::string SolidImage(int width, int height, const QColor& color, const char* format, int quality) {
  QImage img(width, height, QImage::Format_RGB32);
  img.fill(color);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, format, quality);
  return bytes.toStdString();
}

ChildProcess::ChildProcess(const fs::path& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv) {
  auto replaced = [&](const std::string& v) {
    for (const auto& e : extraEnv) {
      const size_t eq = e.find('=');
      if (v.compare(0, eq + 1, e, 0, eq + 1) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    // Headless, as under the service: no display, nothing to answer.
    if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
        v.rfind("QT_QPA_PLATFORM=", 0) == 0 || replaced(v))
      continue;
    env.push_back(v);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp, argv;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::string prog = program.string();
  argv.push_back(prog.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, prog.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  // A child nobody waited for is not left running.
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

int ChildProcess::Wait(std::chrono::seconds limit) {
  if (pid_ <= 0) return -2;
  const pid_t pid = pid_;
  pid_ = -1;
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

void WriteServerIni(const fs::path& dir, const std::string& database) {
  std::ofstream(dir / "tarvoserver.ini", std::ios::binary) << "DATENBANKPFAD=" << database << "\r\nTRACELOG=JA\r\n";
}

void PrepareProgramFolder(const fs::path& dir, const fs::path& program, const std::string& database) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(program, dir / "tarvoreport");
  WriteServerIni(dir, database);
}

std::string JobText(const std::string& kind, const std::string& name, const std::string& format,
                    const std::string& nr) {
  return "BEREICH=T-TOURISTIK\r\nART=" + kind + "\r\nNAME=" + name + "\r\nFORMAT=" + format + "\r\nPARAM__NR=" + nr +
         "\r\nPARAM_NR=" + nr + "\r\n";
}

void WriteJobFile(const fs::path& dir, int slot, const std::string& lines) {
  std::ofstream(dir / ("tarvoreport" + std::to_string(slot) + ".ini"), std::ios::binary) << Utf8ToCp1252(lines);
}

void StoreTemplate(const std::string& database, int nr, const std::string& area, const std::string& kind,
                   const std::string& name, const std::string& xml, const std::string& doktyp) {
  db::TIBRDATABASE d;
  d.SetDatabaseName(database);
  db::TIBRQuery q(d);
  q.SetSQL("INSERT INTO VORLAGEN (NR, BEREICH, ART, NAME, DOKTYP, HAUPTTEXT) VALUES (:NR, :B, :A, :N, :D, :H)");
  q.SetParamInteger("NR", nr);
  q.SetParamText("B", area);
  q.SetParamText("A", kind);
  q.SetParamText("N", name);
  q.SetParamText("D", doktyp);
  q.SetParamBlob("H", xml);
  q.ExecSQL();
  d.Commit();
}

}  // namespace tarvo::reporttest
