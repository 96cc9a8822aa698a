// What the end-to-end tests of the HTTP API share: a throwaway Firebird
// database with a small schema, the configuration pointed at it, a real
// TWebServer on a free loopback port and a client speaking the protocol.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/testing/TestDatabase.h"
#include "server/ServerContext.h"
#include "server/TarvoClient.h"
#include "server/WebServer.h"

namespace tarvo::testing_web {

// A throwaway database (tarvo::testing::TestDatabase) with the tables and
// procedures of these tests; dropped again by the destructor.
class ThrowawayDatabase {
 public:
  ThrowawayDatabase();
  const std::string& Connection() const { return db_.ConnectionString(); }
  // Runs one statement on a connection of its own and commits.
  void Execute(const std::string& statement) const { db_.Execute(statement); }
  // User attachments to the database other than the one asking and the
  // one with the id `except` (0: none excepted).
  int OtherAttachments(int64_t except = 0) const;

 private:
  tarvo::testing::TestDatabase db_{tarvo::testing::TestDatabase::Schema::None};
};
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
  // Attachments that requests left behind: all but the asking one and the
  // server's own hold on the database.
  static int RequestAttachments() { return db_->OtherAttachments(server_->HeldAttachmentId()); }

  static std::unique_ptr<ThrowawayDatabase> db_;
  static std::unique_ptr<server::ServerContext> context_;
  static std::unique_ptr<server::TWebServer> server_;
  static std::string basis_;
  std::unique_ptr<server::TTarvoClient> client_;
};

}  // namespace tarvo::testing_web
