#include "server/WebLegacy.h"

#include <stdexcept>

#include "server/DataModul.h"
#include "server/Web.h"
#include "server/WebHelpers.h"

namespace tarvo::server {
namespace {

}  // namespace

std::string TWebModul::md5(const std::string& text) {
  LogDebug("ENTER: md5");
  std::string digest = Md5Hex(text);
  LogDebug("LEAVE: md5");
  return digest;
}

void TWebModul::UpdateBlob(const std::string& sql, const std::string& content) {
  LogDebug("ENTER: UpdateBlob");
  BLOBQuery.Close();
  BLOBQuery.SetSQL(sql);
  BLOBQuery.SetParamText("content", content);
  Datenbank.StartTransaction();
  try {
    BLOBQuery.ExecSQL();
    if (Datenbank.InTransaction()) Datenbank.CommitRetaining();
  } catch (const db::EAbort&) {
    try {
      if (Datenbank.InTransaction()) Datenbank.RollbackRetaining();
    } catch (...) {
    }
  } catch (const std::exception& e) {
    try {
      if (Datenbank.InTransaction()) Datenbank.RollbackRetaining();
    } catch (...) {
    }
    throw std::runtime_error(UpdateBlobErrorText(e.what()));
  }
  LogDebug("LEAVE: UpdateBlob");
}

void TWebModul::WebModulExecuteHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulExecuteHandlerAction");
  Datenbank.Open();
  {
    CloseAtEnd close(*this);
    const TFormFields fields = ParseFormFields(request.Content);
    try {
      Datamod->AttachDatabase(Datenbank);
      std::string sql = FormField(fields, "sql");
      if (sql.empty()) sql = FormField(ParseFormFields(request.Query), "sql");
      const std::string statement = FormField(fields, "statement");
      std::string body;
      if (statement == md5(std::string(TStatementTokens::Select))) {
        body = Datamod->ReadSql(sql);
      } else if (statement == md5(std::string(TStatementTokens::Update)) ||
                 statement == md5(std::string(TStatementTokens::Insert)) ||
                 statement == md5(std::string(TStatementTokens::Delete))) {
        body = Datamod->ExecuteSql(sql);
      } else {
        throw std::invalid_argument("Statement (" + statement + ") nicht erlaubt. ");
      }
      response.ContentType = kLegacyJsonContentType;
      response.Content = std::move(body);
    } catch (const std::exception& e) {
      std::string text;
      for (const auto& [name, value] : fields) text += name + "=" + value + "\r\n";
      text += "  TARVOserver: ";
      text += e.what();
      response.StatusCode = 200;
      response.ContentType.clear();
      response.Content = std::move(text);
    }
  }
  LogDebug("LEAVE: WebModulExecuteHandlerAction");
}

void TWebModul::WebModulSettingsHandlerAction(const TWebRequest&, TWebResponse& response) {
  LogDebug("ENTER: WebModulSettingsHandlerAction");
  response.ContentType = kLegacyJsonContentType;
  response.Content = SettingsJson(SystemFormatSettings());
  LogDebug("LEAVE: WebModulSettingsHandlerAction");
}

void TWebModul::WebModulUpdateBlobHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulUpdateBlobHandlerAction");
  Datenbank.Open();
  {
    CloseAtEnd close(*this);
    const TFormFields fields = ParseFormFields(request.Content);
    const std::string sql = FormField(fields, "sql");
    const std::string content = FormField(fields, "blobcontent");
    try {
      UpdateBlob(sql, content);
      response.Content = "OK";
    } catch (const std::exception& e) {
      response.Content = e.what();
    }
  }
  LogDebug("LEAVE: WebModulUpdateBlobHandlerAction");
}

}  // namespace tarvo::server
