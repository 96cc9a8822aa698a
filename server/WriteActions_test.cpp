#include <gtest/gtest.h>

#include "server/Web.h"

namespace tarvo::server {
namespace {

TEST(WriteActionsTest, RoutesOfTheWriteInvokeAndLegacyActions) {
  struct Case {
    const char* method;
    const char* path;
    const char* action;  // nullptr: none
  };
  const Case cases[] = {
      {"POST", "/v2/execute", "V2ExecuteHandler"},
      {"GET", "/v2/execute", nullptr},
      {"POST", "/V2/ExecuteBatch", "V2ExecuteBatchHandler"},
      {"PUT", "/v2/executebatch", nullptr},
      {"POST", "/v2/executestream", "V2ExecuteStreamHandler"},
      {"PUT", "/v2/executestream", "V2ExecuteStreamHandler"},
      {"GET", "/v2/invoke", "V2InvokeHandler"},
      {"POST", "/v2/invoke", "V2InvokeHandler"},
      {"GET", "/execute", "ExecuteHandler"},
      {"POST", "/EXECUTE", "ExecuteHandler"},
      {"DELETE", "/settings", "SettingsHandler"},
      {"POST", "/updateblob", "UpdateBlobHandler"},
      {"POST", "/v2/execute/", nullptr},
      {"POST", "/execute2", nullptr},
  };
  for (const auto& c : cases) {
    const auto* a = TWebModul::FindAction(c.method, c.path);
    if (c.action) {
      ASSERT_NE(a, nullptr) << c.method << " " << c.path;
      EXPECT_STREQ(a->Name, c.action);
    } else {
      EXPECT_EQ(a, nullptr) << c.method << " " << c.path;
    }
  }
}

}  // namespace
}  // namespace tarvo::server
