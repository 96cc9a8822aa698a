// What the end-to-end tests of the HTTP API share: a throwaway Firebird
// database with a small schema, the configuration pointed at it, a real
// TWebServer on a free loopback port and a client speaking the protocol.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/ServerContext.h"
#include "server/TarvoClient.h"
#include "server/WebServer.h"

namespace tarvo::testing_web {

// A database created through isql-fb in the folder scripts/firebird-start.sh
// prints ($TARVO_FB_DATA, default /var/lib/firebird/3.0/data/tarvo); dropped
// again by the destructor.
class ThrowawayDatabase {
 public:
  // `script`: isql statements run after creation (SET TERM allowed).
  explicit ThrowawayDatabase(const std::string& script);
  ~ThrowawayDatabase();
  const std::string& Connection() const { return connection_; }
  const std::string& Path() const { return path_; }
  // Runs isql statements against the database; returns isql's output.
  std::string Isql(const std::string& script) const;

 private:
  std::string path_;
  std::string connection_;
};

// The schema every end-to-end test may use.
extern const char* const kTestSchema;
inline constexpr const char* kTestKey = "Pr\xC3\xBC" "fschl\xC3\xBC" "ssel-0815";

class WebServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  static std::string Url();
  // POSTs an encrypted statement body.
  server::TClientResponse Query(const std::string& path, const server::TRequestStatement& s,
                                const server::THeaders& headers = {});
  // Decrypted JSON of a 200 answer; fails the test otherwise.
  std::string QueryJson(const std::string& sql, const std::vector<std::pair<std::string, std::string>>& params = {});

  static std::unique_ptr<ThrowawayDatabase> db_;
  static std::unique_ptr<server::ServerContext> context_;
  static std::unique_ptr<server::TWebServer> server_;
  static std::string basis_;
  std::unique_ptr<server::TTarvoClient> client_;
};

}  // namespace tarvo::testing_web
