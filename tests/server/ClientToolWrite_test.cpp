// The write, invoke, reconfiguration and legacy commands of
// tools/tarvoclient against a live server (docs/client-write.md).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "common/FormatSettings.h"
#include "common/Konfiguration.h"
#include "tests/server/E2EFixture.h"

#ifdef TARVO_CLIENT_TOOL
namespace tarvo::testing_web {
namespace {

class ClientToolWriteDbTest : public WebServerTest {
 protected:
  std::pair<int, std::string> Run(const std::string& args) {
    const std::string command =
        std::string(TARVO_CLIENT_TOOL) + " --url " + Url() + " --key '" + kTestKey + "' " + args + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }
  void TearDown() override {
    db_->Execute("DELETE FROM T_WERTE WHERE NR >= 100");
    Konfiguration().EventsNames = "";
    WebServerTest::TearDown();
  }
};

TEST_F(ClientToolWriteDbTest, EveryWriteCommandReachesItsEndpoint) {
  SetSystemFormatSettings(FormatSettings::German());
  const std::string file = basis_ + "wert.bin";
  {
    std::ofstream out(file, std::ios::binary);
    out << std::string("\x00\x01\xFF bytes", 9);
  }
  struct Case {
    std::string args;
    int exit;
    std::string out;  // the start of stdout
  };
  const Case cases[] = {
      {"execute 'INSERT INTO T_WERTE (NR, TEXT) VALUES (:NR, :T)' NR=100 T=eins", 0, "{\"data\":[]}\n"},
      {"executebatch 'INSERT INTO T_WERTE (NR) VALUES (:NR)' NR=101 'UPDATE T_WERTE SET TEXT = :T WHERE NR = 101' T=null",
       0, "{\"data\":[]}\n"},
      {"executebatch 'INSERT INTO T_WERTE (NR) VALUES (:NR)' NR=102 'INSERT INTO T_WERTE (NR) VALUES (:NR)' NR=100", 1,
       ""},
      {"executestream " + file + " 'UPDATE T_WERTE SET DATEN = :BYTES WHERE NR = :NR' BYTES= NR=100", 0,
       "{\"data\":[]}\n"},
      {"stream 'SELECT DATEN FROM T_WERTE WHERE NR = 100'", 0, std::string("\x00\x01\xFF bytes", 9)},
      {"configure 'TARVOSERVER:INI:EVENTS-NAMES=CHANGELOG' EVENTS=NEIN", 0, "{\"data\":[]}\n"},
      {"invoke decrypt VALUE=" + std::string("'%ZZ'"), 0, "{\"data\":[{\"value\":\"\"}],\"meta\":{"},
      {"legacy-execute select 'SELECT NR, TEXT FROM T_WERTE WHERE NR >= 100 ORDER BY NR'", 0,
       "{\"query\":[{\"nr\":\"100\",\"text\":\"eins\"},{\"nr\":\"101\",\"text\":\"\"}]}\n"},
      {"legacy-execute update \"UPDATE T_WERTE SET TEXT = 'a/b' WHERE NR = 101\"", 0,
       "{ \"status\":\"OK\", \"message\":\"\" }\n"},
      {"updateblob 'UPDATE T_WERTE SET NOTIZ = :content WHERE NR = 100' 'Notiz & mehr'", 0, "OK\n"},
      {"query 'SELECT TEXT, NOTIZ FROM T_WERTE WHERE NR >= 100 ORDER BY NR'", 0,
       "{\"data\":[{\"text\":\"eins\",\"notiz\":\"Notiz & mehr\"},{\"text\":\"a/b\",\"notiz\":\"\"}],"},
      {"settings", 0, "{\"dateformat\":\"d.m.Y\",\"timeformat\":\"H:i\","},
      {"legacy-execute lesen 'SELECT 1 FROM RDB$DATABASE'", 2, ""},
      {"executestream", 2, ""},
  };
  for (const auto& c : cases) {
    const auto [exit, out] = Run(c.args);
    EXPECT_EQ(exit, c.exit) << c.args;
    EXPECT_EQ(out.substr(0, c.out.size()), c.out) << c.args << "\n" << out;
  }
  EXPECT_EQ(Konfiguration().EventsNames.get(), "CHANGELOG");
  EXPECT_FALSE(Konfiguration().Events.get());

  // Encrypt and Decrypt round trip through the tool.
  const auto [exit, out] = Run("invoke Encrypt 'Value=Gr\xC3\xBC\xC3\x9F" "e 17'");
  ASSERT_EQ(exit, 0);
  const size_t from = out.find("\"value\":\"") + 9;
  const std::string token = out.substr(from, out.find('"', from) - from);
  const std::string expected = "{\"data\":[{\"value\":\"Gr\xC3\xBC\xC3\x9F" "e 17\"}]";
  EXPECT_EQ(Run("invoke Decrypt 'Value=" + token + "'").second.substr(0, expected.size()), expected);
}

}  // namespace
}  // namespace tarvo::testing_web
#endif
