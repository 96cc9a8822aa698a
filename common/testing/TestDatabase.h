// Throwaway Firebird databases for tests: each TestDatabase creates a new
// SQL-dialect-1 database (default character set WIN1252) through the
// server on localhost:3050, optionally with the system's tables from
// scripts/schema.sql, and drops it again in its destructor.
//
// The database file lives in the folder that scripts/firebird-start.sh
// prepares ($TARVO_FB_DATA, default /var/lib/firebird/3.0/data/tarvo).
// When the server does not answer, the constructor throws std::runtime_error
// saying so and naming scripts/firebird-start.sh: a test that needs the
// database fails loudly, it is never skipped.
//
// Not thread-safe; create and destroy on one thread. Connections that tests
// leave attached make the drop fail: the destructor retries briefly and
// then reports the file it had to leave on stderr.
#pragma once

#include <string>
#include <vector>

namespace tarvo::testing {

class TestDatabase {
 public:
  enum class Schema { None, Tarvo };

  explicit TestDatabase(Schema schema = Schema::Tarvo);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // "localhost/3050:<path>", for TIBRDATABASE::SetDatabaseName.
  const std::string& ConnectionString() const { return connection_; }
  const std::string& Path() const { return path_; }

  // Runs one statement (PSQL bodies of triggers and procedures included) on
  // a connection of its own (WIN1252, like the system's) and commits. Text is
  // UTF-8 and converted, scripts included. Throws tarvo::db::EDatabaseError
  // with the server's text.
  void Execute(const std::string& statement) const;
  // Runs a script in the format of scripts/schema.sql: split at every ";"
  // outside quotes and comments, each statement committed on its own (as
  // isql's auto-DDL does); "COMMIT" pieces are accepted and do nothing more.
  void ExecuteScript(const std::string& script) const;

  static std::vector<std::string> SplitScript(const std::string& script);
  // The folder for throwaway database files.
  static std::string DataFolder();
  // The path of scripts/schema.sql in the source tree.
  static std::string SchemaFile();

 private:
  void Drop() noexcept;

  std::string path_;
  std::string connection_;
};

}  // namespace tarvo::testing
