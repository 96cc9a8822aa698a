// Start, stop and the connection-level behaviour of the listener, without
// a database.
#include <gtest/gtest.h>

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <thread>

#include "common/Konfiguration.h"
#include "server/TarvoClient.h"
#include "server/WebServer.h"

namespace tarvo::testing_web {
namespace {

class WebServerLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Konfiguration().TarvoServerPort = "0";
    Konfiguration().Sicherheitsschluessel = "k";
    context_.Session0 = true;
  }
  server::ServerContext context_;
};

TEST_F(WebServerLifecycleTest, StartStopStartAgain) {
  server::TWebServer server(context_);
  EXPECT_FALSE(server.Active());
  server.Start();
  server.Start();  // a second start changes nothing
  ASSERT_TRUE(server.Active());
  const int port = server.Port();
  EXPECT_GT(port, 0);
  server::TTarvoClient client("http://127.0.0.1:" + std::to_string(port), "k");
  EXPECT_EQ(client.Send("GET", "/", "", {}, false).Status, 404);
  server.Stop();
  EXPECT_FALSE(server.Active());
  EXPECT_THROW(client.Send("GET", "/", "", {}, false), std::runtime_error);
  server.Start();
  EXPECT_TRUE(server.Active());
  server::TTarvoClient again("http://127.0.0.1:" + std::to_string(server.Port()), "k");
  EXPECT_EQ(again.Send("GET", "/", "", {}, false).Status, 404);
}

TEST_F(WebServerLifecycleTest, BadPortOrPortInUseRaises) {
  server::TWebServer server(context_);
  for (const char* port : {"", "abc", "50600x", "70000", "-1"}) {
    Konfiguration().TarvoServerPort = port;
    EXPECT_THROW(server.Start(), std::runtime_error) << port;
    EXPECT_FALSE(server.Active());
  }
  Poco::Net::ServerSocket taken(Poco::Net::SocketAddress("0.0.0.0", 0));
  Konfiguration().TarvoServerPort = std::to_string(taken.address().port());
  EXPECT_THROW(server.Start(), std::runtime_error);
  EXPECT_FALSE(server.Active());
}

TEST_F(WebServerLifecycleTest, StopEndsIdleConnectionsAndCountsThem) {
  std::atomic<int> refreshes{0};
  context_.Session0 = false;
  context_.PostRefreshUI = [&] { refreshes++; };
  server::TWebServer server(context_);
  server.Start();
  // Connections that never send a request.
  std::vector<Poco::Net::StreamSocket> idle;
  for (int i = 0; i < 3; ++i) idle.emplace_back(Poco::Net::SocketAddress("127.0.0.1", server.Port()));
  for (int i = 0; i < 200 && context_.OpenConnections.load() < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(context_.OpenConnections.load(), 3);
  EXPECT_GE(refreshes.load(), 3);
  const auto t0 = std::chrono::steady_clock::now();
  server.Stop();
  // Well below the 30-second receive time-out of an idle connection.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(context_.OpenConnections.load(), 0);
  EXPECT_GE(refreshes.load(), 6);
}

TEST_F(WebServerLifecycleTest, BrokenRequestsLeaveTheServerServing) {
  server::TWebServer server(context_);
  server.Start();
  const Poco::Net::SocketAddress at("127.0.0.1", server.Port());
  const std::string broken[] = {
      "POST /v2/query HTTP/1.1\r\nContent-Length: 100\r\n\r\nshort",  // body cut off
      "GARBAGE\r\n\r\n",
      "GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
      std::string(100000, 'A'),
      "GET /%zz%%/x HTTP/1.1\r\n\r\n",  // no URI
  };
  auto exchange = [&](const std::string& text) {
    Poco::Net::StreamSocket s(at);
    std::string answer;
    // The server may drop the connection while we still send.
    try {
      s.sendBytes(text.data(), int(text.size()));
      s.shutdownSend();
      char buf[256];
      int n;
      while ((n = s.receiveBytes(buf, sizeof buf)) > 0) answer.append(buf, n);
    } catch (const Poco::Exception&) {
    }
    return answer;
  };
  for (const auto& text : broken) exchange(text);
  EXPECT_EQ(exchange("GET /%zz%%/x HTTP/1.1\r\n\r\n").substr(0, 12), "HTTP/1.1 400");
  server::TTarvoClient client("http://127.0.0.1:" + std::to_string(server.Port()), "k");
  EXPECT_EQ(client.Send("GET", "/", "", {}, false).Status, 404);
  EXPECT_EQ(client.Send("POST", "/v2/query", "x", {}, false).Status, 401);
}

}  // namespace
}  // namespace tarvo::testing_web
