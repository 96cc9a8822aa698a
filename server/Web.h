// The web module: one TWebModul instance answers one HTTP request at a time
// (instances are pooled by the listener, TWebServer). It routes the request
// through its action table, checks the credentials before every action,
// reads and writes the encrypted envelope, and turns every failure into
// the error answers the web platform expects:
//
//   401 "Transaction-ID nicht korrekt"   credentials refused
//   500 text/plain "Bad Request: ..."    body or header not readable as JSON
//   500 text/plain "Socketfehler"        socket error of the HTTP layer
//   951 encrypted user text              message carries "ERR:"
//   950 encrypted message                any other error
//   500 text/plain message               building the error answer failed
//
// A request that matches no action gets 404 "Not Found".
//
// Threads: an instance is used by one connection thread at a time; the
// pool hands it to the next request afterwards. State left by one request
// (an open connection, the plain-stream query) is cleared by the next.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/DXLogger.h"
#include "common/IBTarvo.h"
#include "server/JSONSupport.h"
#include "server/ServerContext.h"

namespace tarvo::server {

class TDatamod;  // server/DataModul.h

// A request as the module sees it; filled by the listener.
struct TWebRequest {
  std::string Method;    // as sent, e.g. "POST"
  std::string PathInfo;  // the path without query and fragment
  std::string Query;     // after "?", without it
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Content;   // the whole body
  // Whether the client still holds the connection open; set by the
  // listener. Empty: taken as connected.
  std::function<bool()> ClientConnected;

  // The first header of that name (compared without regard to case);
  // empty when absent.
  std::string Header(std::string_view name) const;
};

// The answer the listener sends once the module is done.
struct TWebResponse {
  int StatusCode = 200;
  std::string ReasonPhrase;  // empty: the standard phrase of the status
  std::string ContentType;   // empty: kDefaultContentType
  std::string Content;
  // When set, the body is written by this call (chunked) instead of
  // Content. Runs on the connection thread while the module is still
  // leased; may throw, which aborts the connection.
  std::function<void(std::ostream&)> ContentStream;

  void Reset() {
    *this = TWebResponse();
  }
};

inline constexpr const char* kDefaultContentType = "text/html; charset=utf-8";
inline constexpr const char* kBadRequestText =
    "Bad Request: Datenformat oder Sicherheitsschl\xC3\xBCssel ung\xC3\xBCltig";

class TWebModul : public TLevelLogger {
 public:
  explicit TWebModul(ServerContext& context);  // WebModuleCreate
  ~TWebModul() override;                       // WebModuleDestroy
  TWebModul(const TWebModul&) = delete;
  TWebModul& operator=(const TWebModul&) = delete;

  // The whole pipeline for one request: before-dispatch, the action, the
  // exception handler. Never throws.
  void HandleRequest(const TWebRequest& request, TWebResponse& response);
  // Called by the listener after the response went out (or failed to):
  // releases what a streamed body held (its query and the connection).
  void ResponseSent();

  using Handler = void (TWebModul::*)(const TWebRequest&, TWebResponse&);
  struct TWebAction {
    const char* Name;
    const char* Method;  // nullptr: every method
    const char* Path;    // compared whole, without regard to case
    Handler Action;
    const char* HandlerName;
  };
  // The action table, in match order.
  static const std::vector<TWebAction>& Actions();
  // The action for method and path, nullptr when none matches.
  static const TWebAction* FindAction(std::string_view method, std::string_view path);

  // Credentials: HTTP Basic with user name and password both equal to the
  // configured security key.
  static bool CheckTransactionId(const TWebRequest& request);
  // Whether a request needs the credentials: everything but GET "/".
  static bool NeedsCredentials(std::string_view method, std::string_view pathInfo);
  // The status and text of an error message: 951 and the extracted user
  // text when it carries "ERR:", else 950 and the message.
  static std::pair<int, std::string> ErrorAnswer(const std::string& message);

  // Envelope operations on the live security key.
  std::string Make256BitKey(const std::string& key);
  void AESEncrypt(std::string& data);
  void AESDecrypt(std::string& data);
  std::string ReadEncryptedRequestStream(const TWebRequest& request);
  std::string ReadEncryptedRequestHeader(const TWebRequest& request, const std::string& name);
  void WriteEncryptedResponseStream(std::string payload, TWebResponse& response);
  void WriteEncryptedResponse(const std::string& text, TWebResponse& response);

  // RTF text -> plain text under the process-wide RTF lock; empty on error.
  std::string ParseRTF(const std::string& rtf);

  // The actions.
  void WebModulV2QueryHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulV2QueryBatchHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulV2StreamHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulV2PlainStreamHandlerAction(const TWebRequest& request, TWebResponse& response);

  // The module's own connection; its name is set before every request.
  db::TIBRDATABASE Datenbank;

  // The write actions (WebWrite.cpp).
  void WebModulV2ExecuteHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulV2ExecuteBatchHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulV2ExecuteStreamHandlerAction(const TWebRequest& request, TWebResponse& response);
  // "/v2/invoke" (WebInvoke.cpp).
  void WebModulV2InvokeHandlerAction(const TWebRequest& request, TWebResponse& response);
  // "/v2/report" (WebReport.cpp).
  void WebModulV2ReportHandlerAction(const TWebRequest& request, TWebResponse& response);
  // The legacy form endpoints (WebLegacy.cpp).
  void WebModulExecuteHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulSettingsHandlerAction(const TWebRequest& request, TWebResponse& response);
  void WebModulUpdateBlobHandlerAction(const TWebRequest& request, TWebResponse& response);
  // MD5 of the text's bytes as 32 lower-case hex digits.
  std::string md5(const std::string& text);
  // Runs `sql` with its parameter "content" bound to `content` as text and
  // commits; see WebLegacy.cpp for the errors it raises.
  void UpdateBlob(const std::string& sql, const std::string& content);

  // The query of the legacy blob update, on Datenbank.
  db::TIBRQuery BLOBQuery{Datenbank};
  // The legacy SQL operations; created and freed with the module.
  std::unique_ptr<TDatamod> Datamod;

 protected:
  void WebModuleBeforeDispatch(const TWebRequest& request, TWebResponse& response, bool& handled);
  bool QXAuthorizeBeforeDispatch(const TWebRequest& request, TWebResponse& response);
  void WebModuleException(const std::string& message, bool socketError, TWebResponse& response);

  // Binds every parameter: ISO date-times as date-times, the rest as text.
  void BindParams(db::TIBRQuery& query, const TRequestStatement& statement);
  // Sets the statement, binds its parameters and opens the query (first
  // row) between the two trace lines.
  void OpenTraced(db::TIBRQuery& query, const TRequestStatement& statement);
  // Writes every row from the current one on as JSON objects.
  void WriteRows(db::TIBRQuery& query, TJsonWriter& writer);
  // Binds the parameters of a write: ISO date-times as date-times, exactly
  // "null" or "NULL" as SQL NULL, the rest as text (WebWrite.cpp).
  void BindWriteParams(db::TIBRQuery& query, const TRequestStatement& statement);
  // Executes between the two trace lines; `sqlOnly` leaves the parameters
  // out of the first one.
  void ExecTraced(db::TIBRQuery& query, const TRequestStatement& statement, bool sqlOnly = false);
  // "x-qx-platform": takes over a new web platform address.
  void AnnouncePlatform(const std::string& headerText);
  void CloseDatabase();

  ServerContext& context_;
  // The query a plain-stream response reads from while it is sent.
  std::unique_ptr<db::TIBRQuery> plainQuery_;
};

}  // namespace tarvo::server
