// Many requests at once: at most 32 are served, the rest answered at once
// with 503, and nothing is left attached afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/server/E2EFixture.h"

namespace tarvo::testing_web {
namespace {

class ConcurrencyDbTest : public WebServerTest {};

TEST_F(ConcurrencyDbTest, SixtyFourSlowQueriesAtMostThirtyTwoRun) {
  constexpr int kRequests = 64;
  std::vector<int> status(kRequests, 0);
  std::vector<std::string> bodies(kRequests);
  server_->Stop();
  server_->Start();  // fresh figures, on a new port
  client_ = std::make_unique<server::TTarvoClient>(Url(), kTestKey);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      server::TTarvoClient client(Url(), kTestKey);
      ready++;
      while (ready.load() < kRequests) std::this_thread::yield();
      try {
        const auto r = client.PostEncrypted("/v2/query", R"j({"sql":"SELECT X FROM P_LANGSAM(400000)"})j");
        status[i] = r.Status;
        bodies[i] = r.Status == 200 ? client.Decrypt(r.Body) : r.Body;
      } catch (const std::exception& e) {
        bodies[i] = e.what();
      }
    });
  }
  for (auto& t : threads) t.join();
  int ok = 0, busy = 0;
  for (int i = 0; i < kRequests; ++i) {
    if (status[i] == 200) {
      ++ok;
      EXPECT_EQ(bodies[i].substr(0, 25), R"({"data":[{"x":"400000"}],)");
    } else {
      EXPECT_EQ(status[i], 503) << bodies[i];
      EXPECT_EQ(bodies[i], "Zu viele gleichzeitige Verbindungen");
      ++busy;
    }
  }
  // Requests that arrive after an early one finished may be served too, so
  // the limit shows in the server's own figure.
  EXPECT_LE(server_->PeakBusyModules(), 32);
  EXPECT_GE(ok, 1);
  EXPECT_GE(busy, 1);
  EXPECT_EQ(server_->RefusedRequests(), busy);
  EXPECT_EQ(ok + busy, kRequests) << "served " << ok << ", refused " << busy;

  // Healthy afterwards, with nothing left attached.
  EXPECT_EQ(QueryJson("SELECT 1 AS A FROM RDB$DATABASE").substr(0, 20), R"({"data":[{"a":"1"}],)");
  int left = RequestAttachments();
  for (int i = 0; i < 20 && left != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    left = RequestAttachments();
  }
  EXPECT_EQ(left, 0);
}

TEST_F(ConcurrencyDbTest, StopLetsRunningRequestsFinish) {
  int status = 0;
  std::string body;
  std::atomic<bool> sent{false}, done{false};
  std::thread request([&] {
    server::TTarvoClient client(Url(), kTestKey);
    sent = true;
    const auto r = client.PostEncrypted("/v2/query", R"j({"sql":"SELECT X FROM P_LANGSAM(6000000)"})j");
    status = r.Status;
    body = client.Decrypt(r.Body);
    done = true;
  });
  while (!sent) std::this_thread::yield();
  for (int i = 0; i < 200 && context_->OpenConnections.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const bool endedEarly = done;
  server_->Stop();
  request.join();
  EXPECT_FALSE(endedEarly) << "the request ended before the stop";
  EXPECT_EQ(status, 200);
  EXPECT_EQ(body.substr(0, 26), R"({"data":[{"x":"6000000"}],)");
  EXPECT_EQ(context_->OpenConnections.load(), 0);
  server_->Start();
  client_ = std::make_unique<server::TTarvoClient>(Url(), kTestKey);
  EXPECT_FALSE(QueryJson("SELECT 1 AS A FROM RDB$DATABASE").empty());
}

}  // namespace
}  // namespace tarvo::testing_web
