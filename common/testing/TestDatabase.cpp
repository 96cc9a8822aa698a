#include "common/testing/TestDatabase.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/Codepage.h"
#include "common/IBTarvoDetail.h"
#include "common/TextUtil.h"

namespace tarvo::testing {

namespace {

constexpr const char* kServer = "localhost/3050";
constexpr const char* kStartHint =
    "is the Firebird server running on localhost:3050? Start it with: bash scripts/firebird-start.sh";

const char kTransactionParameters[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                       isc_tpb_rec_version, isc_tpb_nowait};

std::string UniqueFileName() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  std::ostringstream name;
  name << "t" << ::getpid() << "_" << counter++ << "_" << std::hex << (rd() & 0xFFFFFF) << ".fdb";
  return name.str();
}

std::string Trimmed(const std::string& text) {
  const size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  const size_t e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

// Runs `sql` in a transaction of its own on `db` and commits.
void RunCommitted(isc_db_handle* db, const std::string& sql) {
  ISC_STATUS_ARRAY status{};
  isc_tr_handle tr = 0;
  if (isc_start_transaction(status, &tr, 1, db, static_cast<unsigned short>(sizeof kTransactionParameters),
                            kTransactionParameters))
    db::detail::Throw(status, "Start transaction");
  const std::string text = Utf8ToCp1252(sql);
  if (isc_dsql_execute_immediate(status, db, &tr, 0, text.c_str(), 1, nullptr)) {
    ISC_STATUS_ARRAY ignored{};
    isc_rollback_transaction(ignored, &tr);
    db::detail::Throw(status, "Execute");
  }
  if (isc_commit_transaction(status, &tr)) db::detail::Throw(status, "Commit");
}

}  // namespace

std::string TestDatabase::DataFolder() {
  const char* env = std::getenv("TARVO_FB_DATA");
  return env && *env ? env : "/var/lib/firebird/3.0/data/tarvo";
}

std::string TestDatabase::SchemaFile() { return std::string(TARVO_SOURCE_DIR) + "/scripts/schema.sql"; }

TestDatabase::TestDatabase(Schema schema) {
  path_ = DataFolder() + "/" + UniqueFileName();
  connection_ = std::string(kServer) + ":" + path_;
  const std::string create = "CREATE DATABASE '" + connection_ +
                             "' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 8192 "
                             "DEFAULT CHARACTER SET WIN1252";
  ISC_STATUS_ARRAY status{};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  if (isc_dsql_execute_immediate(status, &db, &tr, 0, create.c_str(), 1, nullptr)) {
    throw std::runtime_error("TestDatabase: cannot create " + connection_ + ": " +
                             db::detail::StatusText(status) + "\n" + kStartHint);
  }
  isc_detach_database(status, &db);
  if (schema == Schema::Tarvo) {
    std::ifstream in(SchemaFile(), std::ios::binary);
    if (!in) throw std::runtime_error("TestDatabase: cannot read " + SchemaFile());
    std::stringstream script;
    script << in.rdbuf();
    try {
      ExecuteScript(script.str());
    } catch (const std::exception& e) {
      Drop();
      throw std::runtime_error(std::string("TestDatabase: schema.sql failed: ") + e.what());
    }
  }
}

TestDatabase::~TestDatabase() { Drop(); }

void TestDatabase::Drop() noexcept {
  if (path_.empty()) return;
  std::string last;
  for (int attempt = 0; attempt < 20; ++attempt) {
    db::detail::Attachment attachment;
    try {
      attachment.Attach(connection_);
    } catch (const std::exception& e) {
      last = e.what();
      break;
    }
    ISC_STATUS_ARRAY status{};
    if (isc_drop_database(status, attachment.Handle()) == 0) {
      // The handle is released by the drop.
      *attachment.Handle() = 0;
      path_.clear();
      return;
    }
    last = db::detail::StatusText(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::cerr << "TestDatabase: could not drop " << path_ << ": " << last << "\n";
  path_.clear();
}

void TestDatabase::Execute(const std::string& statement) const {
  db::detail::Attachment attachment;
  attachment.Attach(connection_);
  RunCommitted(attachment.Handle(), statement);
}

void TestDatabase::ExecuteScript(const std::string& script) const {
  db::detail::Attachment attachment;
  attachment.Attach(connection_);
  for (const std::string& statement : SplitScript(script)) {
    const std::string upper = AsciiUpper(statement);
    if (upper == "COMMIT" || upper == "COMMIT WORK") continue;
    RunCommitted(attachment.Handle(), statement);
  }
}

std::vector<std::string> TestDatabase::SplitScript(const std::string& script) {
  std::vector<std::string> statements;
  std::string current;
  const size_t n = script.size();
  size_t i = 0;
  auto flush = [&] {
    std::string s = Trimmed(current);
    if (!s.empty()) statements.push_back(s);
    current.clear();
  };
  while (i < n) {
    const char c = script[i];
    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      while (j < n) {
        if (script[j] == c) {
          if (j + 1 < n && script[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const size_t end = j < n ? j + 1 : n;
      current.append(script, i, end - i);
      i = end;
    } else if (c == '-' && i + 1 < n && script[i + 1] == '-') {
      const size_t eol = script.find('\n', i);
      i = eol == std::string::npos ? n : eol + 1;
      current.push_back('\n');
    } else if (c == '/' && i + 1 < n && script[i + 1] == '*') {
      const size_t close = script.find("*/", i + 2);
      i = close == std::string::npos ? n : close + 2;
      current.push_back(' ');
    } else if (c == ';') {
      flush();
      ++i;
    } else {
      current.push_back(c);
      ++i;
    }
  }
  flush();
  return statements;
}

}  // namespace tarvo::testing
