// The report spooler without HTTP: the job text and hash, the reading of
// the request, the choice of slot and the limits, a stop while jobs hold
// tickets, and the run in a slot with small fake workers (shell scripts
// placed as "tarvoreport" in a program folder of their own).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Konfiguration.h"
#include "common/testing/TestFiles.h"
#include "server/JSONSupport.h"
#include "server/Spooler.h"
#include "server/Token.h"
#include "server/WebReport.h"

namespace tarvo::server {
namespace {

namespace fs = std::filesystem;
using tarvo::testing::ReadFile;

TReportJob Job(std::string bereich, std::string nr = {}, std::vector<std::pair<std::string, std::string>> params = {}) {
  TReportJob job;
  job.Bereich = std::move(bereich);
  job.Art = "ART";
  job.Name = "NAME";
  job.Nr = std::move(nr);
  job.Params = std::move(params);
  return job;
}

TEST(ReportJobText, LinesCacheFlagAndHash) {
  TReportJob a;
  a.Bereich = "T-TOURISTIK";
  a.Art = "BESTAETIGUNG";
  a.Name = "WEBFORMULAR";
  a.Format = "pdf";
  a.Nr = "200140";
  a.BuildJobText();
  EXPECT_EQ(a.Text,
            "BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=WEBFORMULAR\r\nFORMAT=pdf\r\nPARAM__NR=200140\r\n"
            "PARAM_NR=200140\r\n");
  EXPECT_EQ(a.Hash, "FEC3C1A7D822A1A103F9BBADF679D0B208B434D5");
  EXPECT_FALSE(a.Cache);

  // No record number: both lines end in =0; the cache member gives no line
  // and its name and value are compared ignoring case; characters outside
  // ASCII count as one '?' each for the hash.
  TReportJob b;
  b.Bereich = "A";
  b.Art = "B";
  b.Name = "C";
  b.Params = {{"x-qx-report-cache", "ja"}, {"Gruss", "Gr\xC3\xBC\xC3\x9F" "e"}};
  b.BuildJobText();
  EXPECT_EQ(b.Text,
            "BEREICH=A\r\nART=B\r\nNAME=C\r\nFORMAT=html\r\nPARAM__NR=0\r\nPARAM_NR=0\r\nPARAM_Gruss=Gr\xC3\xBC\xC3\x9F"
            "e\r\n");
  EXPECT_TRUE(b.Cache);
  EXPECT_EQ(b.Hash, "62D84BCCC56719E7B74E12252FD7894EBF09F988");

  TReportJob c = b;
  c.Params[0].second = "NEIN";
  c.BuildJobText();
  EXPECT_FALSE(c.Cache);
  EXPECT_EQ(c.Hash, b.Hash);  // the cache member is not part of the job
}

TEST(ReportBody, MembersInOrder) {
  const std::string token = EncryptValue("4711");
  struct Case {
    std::string json;
    std::string bereich, art, name, format, nr;
    std::vector<std::pair<std::string, std::string>> params;
  } cases[] = {
      {R"({"bereich":"t-touristik","art":"Best","name":"WebFormular","format":"PDF","params":{}})", "T-TOURISTIK",
       "BEST", "WEBFORMULAR", "pdf", "", {}},
      {R"({"bereich":"a","params":{"nr":42}})", "A", "", "", "html", "42", {}},
      {R"({"id":")" + token + R"(","params":{"nr":"42","Kunde":"x"}})", "", "", "", "html", "4711", {{"Kunde", "x"}}},
      {R"({"id":"%%kaputt","params":{"nr":"42"}})", "", "", "", "html", "42", {}},
      // Nothing after "params" is read.
      {R"({"art":"k","params":{"a":true,"b":1.50},"bereich":"spaet","name":"x"})", "", "K", "", "html", "",
       {{"a", "true"}, {"b", "1.50"}}},
      // Nested values of other members are passed over.
      {R"({"extra":{"bereich":"nein"},"liste":[1,[2]],"name":"n","params":{}})", "", "", "N", "html", "", {}},
  };
  for (const auto& c : cases) {
    const TReportJob job = ReadReportBody(c.json);
    EXPECT_EQ(job.Bereich, c.bereich) << c.json;
    EXPECT_EQ(job.Art, c.art) << c.json;
    EXPECT_EQ(job.Name, c.name) << c.json;
    EXPECT_EQ(job.Format, c.format) << c.json;
    EXPECT_EQ(job.Nr, c.nr) << c.json;
    EXPECT_EQ(job.Params, c.params) << c.json;
  }
  for (const std::string bad : {"", "[]", "{\"params\":{\"a\":1,\"a\":2}}", "{\"params\":{\"nr\":1,\"nr\":2}}",
                                "{\"params\":[]}", "{\"params\":\"x\"}", "{\"params\":{\"a\":{}}}", "{\"name\":"}) {
    EXPECT_THROW(ReadReportBody(bad), EBadRequest) << bad;
  }
}

// A spooler on its own context with pool and limit set.
class SpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = {Konfiguration().FReportPool.get(), Konfiguration().FReportJobs.get(),
              Konfiguration().FReportTimeout.get()};
    Konfiguration().FReportPool = 2;
    Konfiguration().FReportJobs = 3;
    Konfiguration().FReportTimeout = 30;
  }
  void TearDown() override {
    Konfiguration().FReportPool = saved_[0];
    Konfiguration().FReportJobs = saved_[1];
    Konfiguration().FReportTimeout = saved_[2];
  }
  std::unique_ptr<TSlotTicket> Admit(TReportJob job, TReportJob* out = nullptr) {
    TReportJob admitted;
    auto t = spooler_.Admit([&] { return job; }, admitted);
    if (out) *out = admitted;
    return t;
  }
  static std::string Message(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(no error)";
  }

  std::array<int, 3> saved_{};
  ServerContext context_;
  TSpooler spooler_{context_};
};

TEST_F(SpoolerTest, SlotsByLoadUpToTheLimit) {
  EXPECT_EQ(Message([&] { Admit(Job("A")); }), kReportUnavailableText);  // never started
  spooler_.StartSpooler();
  std::vector<std::unique_ptr<TSlotTicket>> held;
  std::vector<int> slots;
  for (int i = 0; i < 6; ++i) {
    held.push_back(Admit(Job("J" + std::to_string(i))));
    slots.push_back(held.back()->Index());
  }
  EXPECT_EQ(slots, (std::vector<int>{0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(spooler_.TotalJobs(), 6);
  EXPECT_EQ(Message([&] { Admit(Job("J6")); }), kReportLimitText);
  EXPECT_EQ(spooler_.TotalJobs(), 6);
  EXPECT_EQ(spooler_.SlotHashes(0).size(), 3u);

  // A freed place in slot 1 takes the next job even though slot 0 comes first.
  held[1].reset();
  EXPECT_EQ(Admit(Job("J7"))->Index(), 1);

  // An identical cached job joins its twin's slot beyond the limit; without
  // the cache flag the same job is refused.
  const auto cached = Job("A", "", {{"X-QX-REPORT-CACHE", "JA"}});
  held[0].reset();
  auto first = Admit(cached);
  ASSERT_EQ(first->Index(), 0);
  auto filler = Admit(Job("F"));  // slot 1 full again
  auto twin = Admit(cached);
  EXPECT_EQ(twin->Index(), 0);
  EXPECT_EQ(spooler_.SlotJobs(0), 4);
  EXPECT_EQ(Message([&] { Admit(Job("A")); }), kReportLimitText);

  held.clear();
  first.reset();
  filler.reset();
  twin.reset();
  EXPECT_EQ(spooler_.TotalJobs(), 0);
  EXPECT_EQ(spooler_.SlotJobs(0), 0);
  EXPECT_EQ(spooler_.SlotJobs(1), 0);
  EXPECT_TRUE(spooler_.SlotHashes(0).empty());
}

TEST_F(SpoolerTest, JobsOfADiscardedPoolLeaveTheNextPoolAlone) {
  spooler_.StartSpooler();
  auto old1 = Admit(Job("A"));
  auto old2 = Admit(Job("B"));
  spooler_.StopSpooler();
  EXPECT_EQ(spooler_.TotalJobs(), 0);
  EXPECT_EQ(Message([&] { Admit(Job("C")); }), kReportUnavailableText);
  spooler_.StopSpooler();  // already stopped: nothing happens

  Konfiguration().FReportPool = 1;
  spooler_.StartSpooler();
  EXPECT_EQ(spooler_.SlotCount(), 1);
  auto fresh = Admit(Job("D"));
  old1.reset();
  old2.reset();
  EXPECT_EQ(spooler_.TotalJobs(), 1);
  EXPECT_EQ(spooler_.SlotJobs(0), 1);
  EXPECT_EQ(spooler_.SlotHashes(0).size(), 1u);
  fresh.reset();
  EXPECT_EQ(spooler_.TotalJobs(), 0);

  // No slots at all: refused as unavailable.
  spooler_.StopSpooler();
  Konfiguration().FReportPool = 0;
  spooler_.StartSpooler();
  EXPECT_EQ(Message([&] { Admit(Job("E")); }), kReportUnavailableText);
}

// Fake workers in a program folder of their own.
class SpoolerRunTest : public SpoolerTest {
 protected:
  void SetUp() override {
    SpoolerTest::SetUp();
    dir_ = fs::temp_directory_path() / ("tarvo-spool-unit-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    spooler_.SetProgramFolder(dir_.string());
    Konfiguration().FReportPool = 1;
    spooler_.StartSpooler();
  }
  void TearDown() override {
    fs::remove_all(dir_);
    SpoolerTest::TearDown();
  }
  // A worker script: `body` runs with $DIR the folder and $N the slot.
  void Worker(const std::string& body) {
    const fs::path p = dir_ / "tarvoreport";
    std::ofstream(p) << "#!/bin/sh\nDIR=$(dirname \"$0\")\nN=${2#--POOL=}\necho run >> \"$DIR/runs\"\n" << body
                     << "\n";
    fs::permissions(p, fs::perms::owner_all);
  }
  std::string Run(const TReportJob& job) {
    TReportJob admitted;
    auto ticket = spooler_.Admit([&] { return job; }, admitted);
    return spooler_.Execute(*ticket, admitted, nullptr, nullptr);
  }
  int Runs() {
    std::ifstream f(dir_ / "runs");
    int n = 0;
    std::string line;
    while (std::getline(f, line)) ++n;
    return n;
  }
  fs::path dir_;
};

TEST_F(SpoolerRunTest, WorkerOutputJobFileAndArguments) {
  Worker("printf '%s %s|' \"$1\" \"$2\" > \"$DIR/tarvoreport$N.pdf\"; cat \"$DIR/tarvoreport$N.ini\" >> \"$DIR/tarvoreport$N.pdf\"");
  auto job = Job("GR\xC3\x9C\xC3\x9F", "7", {{"Name", "M\xC3\xBCller"}});
  const std::string bytes = Run(job);
  // The job file is Windows-1252 with CR LF.
  EXPECT_EQ(bytes,
            "--WEB --POOL=0|BEREICH=GR\xDC\xDF\r\nART=ART\r\nNAME=NAME\r\nFORMAT=html\r\nPARAM__NR=7\r\nPARAM_NR=7\r\n"
            "PARAM_Name=M\xFCller\r\n");
  // Without the cache flag the output stays until the slot's next job.
  EXPECT_TRUE(fs::exists(dir_ / "tarvoreport0.pdf"));
  EXPECT_FALSE(fs::exists(dir_ / "cache"));
  EXPECT_EQ(spooler_.TotalJobs(), 0);
}

TEST_F(SpoolerRunTest, FailingWorkersReleaseTheSlot) {
  Konfiguration().FReportTimeout = 1;
  const std::string fail = "Reportfehler: bereich=A, art=ART, name=NAME";
  struct Case {
    const char* what;
    std::string script;  // empty: no worker in the folder
    std::string message;
  } cases[] = {
      {"exits without output", "exit 3", fail},
      {"crashes", "kill -SEGV $$", fail},
      // Without the deadline it would answer "late".
      {"hangs past the deadline", "sleep 30; echo late > \"$DIR/tarvoreport$N.pdf\"", fail},
      {"is killed from outside", "kill -KILL $$", fail},
      {"is missing", "", "Ausf\xC3\xBChrung des Druckprozesses fehlgeschlagen: bereich=A, art=ART, name=NAME"},
      {"writes nothing (the old output is deleted first)", "exit 0", fail},
  };
  for (const auto& c : cases) {
    std::ofstream(dir_ / "tarvoreport0.pdf") << "old output";
    fs::remove(dir_ / "tarvoreport");
    if (!c.script.empty()) Worker(c.script);
    EXPECT_EQ(Message([&] { Run(Job("A")); }), c.message) << c.what;
    EXPECT_EQ(spooler_.TotalJobs(), 0) << c.what;
    // The next job of the slot runs.
    Worker("echo ok > \"$DIR/tarvoreport$N.pdf\"");
    EXPECT_EQ(Run(Job("B")), "ok\n") << c.what;
  }
}

TEST_F(SpoolerRunTest, CachedResultsAndAFailedMove) {
  Worker("echo doc-$(wc -l < \"$DIR/runs\") > \"$DIR/tarvoreport$N.pdf\"");
  const auto cached = Job("A", "1", {{"X-QX-REPORT-CACHE", "JA"}});
  const std::string first = Run(cached);
  EXPECT_EQ(first, "doc-1\n");
  TReportJob built = cached;
  built.BuildJobText();
  EXPECT_EQ(ReadFile(dir_ / "cache" / (built.Hash + ".pdf")), first);
  EXPECT_FALSE(fs::exists(dir_ / "tarvoreport0.pdf"));
  EXPECT_EQ(Run(cached), first);
  EXPECT_EQ(Runs(), 1);

  // Without the flag the worker runs again.
  EXPECT_EQ(Run(Job("A", "1")), "doc-2\n");

  // The cache folder cannot be made: the result is still answered.
  fs::remove_all(dir_ / "cache");
  std::ofstream(dir_ / "cache") << "not a folder";
  EXPECT_EQ(Run(cached), "doc-3\n");
  EXPECT_EQ(spooler_.TotalJobs(), 0);
}

TEST_F(SpoolerRunTest, IdenticalCachedJobsAtOnceRunOneWorker) {
  Worker("sleep 0.3; echo doc-$(wc -l < \"$DIR/runs\") > \"$DIR/tarvoreport$N.pdf\"");
  Konfiguration().FReportPool = 2;
  spooler_.StopSpooler();
  spooler_.StartSpooler();
  const auto cached = Job("A", "1", {{"X-QX-REPORT-CACHE", "JA"}});
  std::string a, b;
  std::thread t1([&] { a = Run(cached); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::thread t2([&] { b = Run(cached); });
  t1.join();
  t2.join();
  EXPECT_EQ(a, "doc-1\n");
  EXPECT_EQ(b, a);
  EXPECT_EQ(Runs(), 1);
}

TEST_F(SpoolerRunTest, StopWhileAJobRuns) {
  Worker("sleep 0.5; echo late > \"$DIR/tarvoreport$N.pdf\"");
  std::string running, waiting;
  std::thread t1([&] { running = Message([&] { running = Run(Job("A")); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::thread t2([&] { waiting = Message([&] { Run(Job("B")); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  spooler_.StopSpooler();
  spooler_.StartSpooler();
  TReportJob admitted;
  auto fresh = spooler_.Admit([] { return Job("C"); }, admitted);
  t1.join();
  t2.join();
  EXPECT_EQ(running, "(no error)");  // the running job finished
  EXPECT_EQ(waiting, kReportUnavailableText);
  EXPECT_EQ(spooler_.TotalJobs(), 1);
  EXPECT_EQ(spooler_.SlotHashes(0), std::vector<std::string>{admitted.Hash});
  // The new pool's job runs in slot 0 after the old one let go of it.
  Worker("echo new > \"$DIR/tarvoreport$N.pdf\"");
  EXPECT_EQ(spooler_.Execute(*fresh, admitted, nullptr, nullptr), "new\n");
  fresh.reset();
  EXPECT_EQ(spooler_.TotalJobs(), 0);
}

}  // namespace
}  // namespace tarvo::server
