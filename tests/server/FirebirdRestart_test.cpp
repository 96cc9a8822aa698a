// The database server stops during a request and comes back: the request
// fails with an answer, the next one works.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "tests/server/E2EFixture.h"

namespace tarvo::testing_web {
namespace {

class FirebirdRestartDbTest : public WebServerTest {};

void StartFirebird() {
  const std::string command = "bash " TARVO_SOURCE_DIR_FOR_SCRIPTS "/scripts/firebird-start.sh >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

TEST_F(FirebirdRestartDbTest, RequestDuringOutageFailsAndNextOneWorks) {
  ASSERT_EQ(QueryJson("SELECT 1 AS A FROM RDB$DATABASE").substr(0, 20), R"({"data":[{"a":"1"}],)");
  int status = 0;
  std::string body;
  std::thread slow([&] {
    try {
      const auto r = client_->PostEncrypted("/v2/query", R"j({"sql":"SELECT X FROM P_LANGSAM(20000000)"})j");
      status = r.Status;
      body = r.Status == 950 ? client_->Decrypt(r.Body) : r.Body;
    } catch (const std::exception& e) {
      body = e.what();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  // A hard stop: a server asked to end politely may wait for its
  // attachments, and one started from inside a test may not be reaped.
  ASSERT_EQ(std::system("pkill -KILL -x firebird"), 0);
  slow.join();
  EXPECT_EQ(status, 950) << body;
  EXPECT_FALSE(body.empty());

  // While the server is down: an answer, not a hang.
  for (int i = 0; i < 50 && std::system("bash -c 'exec 3<>/dev/tcp/127.0.0.1/3050' 2>/dev/null") == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto down = client_->PostEncrypted("/v2/query", R"({"sql":"SELECT 1 FROM RDB$DATABASE"})");
  EXPECT_EQ(down.Status, 950);

  StartFirebird();
  std::string json;
  for (int i = 0; i < 50; ++i) {
    const auto r = client_->PostEncrypted("/v2/query", R"({"sql":"SELECT 1 AS A FROM RDB$DATABASE"})");
    if (r.Status == 200) {
      json = client_->Decrypt(r.Body);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(json.substr(0, 20), R"({"data":[{"a":"1"}],)");
}

}  // namespace
}  // namespace tarvo::testing_web
