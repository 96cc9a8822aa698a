// What the write, invoke and legacy actions write to the log: their frames
// and the statement traces (the streamed write traces its SQL text alone).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "common/Codepage.h"
#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "server/DataModul.h"
#include "server/Envelope.h"
#include "tests/server/LoggingFixture.h"

namespace tarvo::testing_web {
namespace {

class WriteLoggingDbTest : public LoggingWebServerTest {
 protected:
  void SetUp() override {
    WebServerTest::SetUp();
    StartLogging();
  }
  void TearDown() override {
    StopLogging();
    db_->Execute("DELETE FROM T_WERTE WHERE NR >= 200");
    WebServerTest::TearDown();
  }
  // ENTER, the close of the connection, LEAVE, in this order.
  void ExpectFrame(const std::string& log, const std::string& name, bool closes = true) {
    const size_t enter = log.find("DEBUG | ENTER: " + name + "\r\n");
    ASSERT_NE(enter, std::string::npos) << name;
    const size_t leave = log.find("DEBUG | LEAVE: " + name + "\r\n", enter);
    ASSERT_NE(leave, std::string::npos) << name;
    if (closes) EXPECT_LT(log.find("DEBUG | Close Database Connection", enter), leave) << name;
  }
};

TEST_F(WriteLoggingDbTest, FramesAndTracesOfTheWriteActions) {
  auto r = client_->PostEncrypted("/v2/execute", server::TTarvoClient::StatementBody(
                                                     {"INSERT INTO T_WERTE (NR, TEXT) VALUES (:NR, :T)",
                                                      {{"NR", "200"}, {"T", "protokolliert"}}}));
  ASSERT_EQ(r.Status, 200);
  r = client_->PostEncrypted("/v2/executebatch", server::TTarvoClient::BatchBody(
                                                     {{"UPDATE T_WERTE SET GANZ = :G WHERE NR = 200", {{"G", "7"}}}}));
  ASSERT_EQ(r.Status, 200);
  r = client_->Send("POST", "/v2/executestream", server::envelope::EncryptToBase64(kTestKey, "geheime Bytes"),
                    {{"x-qx-command", client_->EncryptHeader(server::TTarvoClient::StatementBody(
                                          {"UPDATE T_WERTE SET DATEN = :BYTES WHERE NR = :NR",
                                           {{"BYTES", ""}, {"NR", "200"}}}))}});
  ASSERT_EQ(r.Status, 200);
  r = client_->PostEncrypted("/v2/invoke", R"({"method":"Encrypt","params":{"Value":"x"}})");
  ASSERT_EQ(r.Status, 200);
  r = client_->Send("POST", "/execute",
                    "sql=SELECT+1+FROM+RDB%24DATABASE&statement=" + server::Md5Hex(server::TStatementTokens::Select));
  ASSERT_EQ(r.Status, 200);
  r = client_->Send("POST", "/updateblob", "sql=UPDATE+T_WERTE+SET+NOTIZ%3D%3Acontent+WHERE+NR%3D200&blobcontent=n");
  ASSERT_EQ(r.Body, "OK");
  const std::string log = LogWith("LEAVE: WebModulUpdateBlobHandlerAction");

  ExpectFrame(log, "WebModulV2ExecuteHandlerAction");
  ExpectFrame(log, "WebModulV2ExecuteBatchHandlerAction");
  ExpectFrame(log, "WebModulV2ExecuteStreamHandlerAction");
  ExpectFrame(log, "WebModulV2InvokeHandlerAction", false);
  ExpectFrame(log, "WebModulExecuteHandlerAction");
  ExpectFrame(log, "WebModulUpdateBlobHandlerAction");
  ExpectFrame(log, "md5", false);
  ExpectFrame(log, "UpdateBlob", false);

  // Statements with their parameters, each finished line with the same id.
  const std::string id = R"((\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}))";
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      log, m, std::regex(id + R"( \| SQL: INSERT INTO T_WERTE \(NR, TEXT\) VALUES \(:NR, :T\)\r\r(NR=200\rT=protokolliert\r|T=protokolliert\rNR=200\r)\r\n)")))
      << log;
  EXPECT_NE(log.find(m[1].str() + " | SQL finished: "), std::string::npos);
  ASSERT_TRUE(std::regex_search(log, m, std::regex(id + R"( \| SQL: UPDATE T_WERTE SET GANZ = :G WHERE NR = 200\r\rG=7\r\r\n)")));
  EXPECT_NE(log.find(m[1].str() + " | SQL finished: "), std::string::npos);
  // The streamed write: the SQL text alone.
  ASSERT_TRUE(std::regex_search(log, m, std::regex(id + R"( \| SQL: UPDATE T_WERTE SET DATEN = :BYTES WHERE NR = :NR\r\r\r\n)")))
      << log;
  EXPECT_NE(log.find(m[1].str() + " | SQL finished: "), std::string::npos);
  EXPECT_EQ(log.find("geheime Bytes"), std::string::npos);
}

}  // namespace
}  // namespace tarvo::testing_web
