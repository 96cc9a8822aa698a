// The demo database script against the real Firebird server: the database
// is recreated on every run, and the UTF-8 texts of the demo files arrive
// in the WIN1252 columns as one character each.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

#ifdef TARVO_SOURCE_DIR

// Runs a shell command; its standard output and exit code.
std::pair<std::string, int> RunShell(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return {"popen failed", -1};
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int status = ::pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

class DemoDatabaseDb : public ::testing::Test {
 protected:
  void SetUp() override {
    file = "/var/lib/firebird/3.0/data/tarvo/host-demo-test-" + std::to_string(::getpid()) + ".fdb";
  }
  void TearDown() override {
    RunShell("echo 'DROP DATABASE;' | isql-fb -q -user SYSDBA -password quillfern localhost/3050:" + file);
  }
  // One value per line ("COLUMN   value") through isql's list mode.
  std::string Query(const std::string& sql, const std::string& charset = "UTF8") {
    const std::string input = "/tmp/host-demo-query-" + std::to_string(::getpid()) + ".sql";
    {
      std::ofstream out(input, std::ios::binary | std::ios::trunc);
      out << "SET LIST ON;\n" << sql << "\n";
    }
    auto result = RunShell("isql-fb -q -user SYSDBA -password quillfern -ch " + charset + " -i " + input +
                           " localhost/3050:" + file);
    ::unlink(input.c_str());
    return result.first;
  }
  std::string CreateScript() { return "bash " TARVO_SOURCE_DIR "/scripts/demo-db.sh " + file; }

  std::string file;
};

TEST_F(DemoDatabaseDb, RecreatesTheDatabaseWithTheDemoRowsAndIntactUmlauts) {
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    const auto [out, rc] = RunShell(CreateScript());
    ASSERT_EQ(rc, 0) << out;
    EXPECT_THAT(Query("SELECT COUNT(*) AS N FROM DEMO_SPALTEN;"), ::testing::MatchesRegex("\\s*N\\s+3\\s*"));
  }
  EXPECT_THAT(Query("SELECT MON$SQL_DIALECT AS D, RDB$CHARACTER_SET_NAME AS CS FROM MON$DATABASE, RDB$DATABASE;"),
              ::testing::MatchesRegex("\\s*D\\s+1\\s+CS\\s+WIN1252\\s*"));

  // One byte per umlaut in the column, the same text back through UTF8 and
  // the Windows-1252 bytes through WIN1252.
  EXPECT_THAT(Query("SELECT OCTET_LENGTH(NAME) AS L, NAME FROM DEMO_SPALTEN WHERE NR = 1;"),
              ::testing::MatchesRegex("\\s*L\\s+14\\s+NAME\\s+Grüße aus Köln\\s*"));
  EXPECT_THAT(Query("SELECT KUERZEL FROM DEMO_SPALTEN WHERE NR = 1;", "WIN1252"),
              ::testing::HasSubstr("\xC4\xD6\xDC\xDF"));

  // What the server's status page and event forwarding read.
  EXPECT_THAT(Query("SELECT DATAVERS FROM FIRMENSTAMM ROWS 1;"), ::testing::MatchesRegex("\\s*DATAVERS\\s+2026\\s*"));
  EXPECT_THAT(Query("SELECT WERT FROM T_KONFIGURATION WHERE KATEGORIE = 'Webplattform' AND BEREICH = 'MANDANT' ROWS 1;"),
              ::testing::MatchesRegex("\\s*WERT\\s+DEMO\\s*"));
}

#endif  // TARVO_SOURCE_DIR

}  // namespace
