// The command line of tools/tarvoclient, as docs/client.md describes it and
// the demo script uses it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/server/E2EFixture.h"

#ifdef TARVO_CLIENT_TOOL
namespace tarvo::testing_web {
namespace {

class ClientToolDbTest : public WebServerTest {
 protected:
  // Runs the tool with the arguments (already quoted for the shell);
  // returns its exit status and stdout.
  std::pair<int, std::string> Run(const std::string& args, const std::string& key = kTestKey) {
    const std::string command = std::string(TARVO_CLIENT_TOOL) + " --url " + Url() + " --key '" + key + "' " +
                                args + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }
};

TEST_F(ClientToolDbTest, CommandsPrintTheDecryptedAnswer) {
  struct Case {
    std::string args;
    int exit;
    std::string start;
  };
  const Case cases[] = {
      {"query 'SELECT NR FROM T_WERTE WHERE NR = :NR' NR=1", 0, "{\"data\":[{\"nr\":\"1\"}],\"meta\":{"},
      {"querybatch 'SELECT NR FROM T_WERTE WHERE NR = :NR' NR=1 'SELECT NR FROM T_WERTE WHERE NR = 2'", 0,
       "{\"data\":[[{\"nr\":\"1\"}],[{\"nr\":\"2\"}]],\"meta\":{"},
      {"stream 'SELECT TEXT FROM T_WERTE WHERE NR = :NR' NR=3", 0, "2024-13-05T14:07:09"},
      {"raw /v2/query '{\"sql\":\"SELECT NR FROM T_WERTE WHERE NR = 2\"}'", 0, "{\"data\":[{\"nr\":\"2\"}]"},
      {"query 'SELECT * FROM GIBT_ES_NICHT'", 1, ""},
      {"query", 2, ""},
      {"unbekannt 'SELECT 1 FROM RDB$DATABASE'", 2, ""},
  };
  for (const auto& c : cases) {
    const auto [exit, out] = Run(c.args);
    EXPECT_EQ(exit, c.exit) << c.args;
    EXPECT_EQ(out.substr(0, c.start.size()), c.start) << c.args << "\n" << out;
  }
  EXPECT_EQ(Run("query 'SELECT 1 FROM RDB$DATABASE'", "falsch").first, 1);

  const std::string file = basis_ + "stream.bin";
  EXPECT_EQ(Run("--out " + file + " plainstream 'SELECT TEXT FROM T_WERTE WHERE NR = 3'").first, 0);
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "2024-13-05T14:07:09");
}

}  // namespace
}  // namespace tarvo::testing_web
#endif
