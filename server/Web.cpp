#include "server/Web.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "common/Codepage.h"
#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "common/RtfToText.h"
#include "common/TextUtil.h"
#include "server/DataModul.h"
#include "server/Envelope.h"
#include "server/RowFormat.h"
#include "server/WebHelpers.h"

namespace tarvo::server {
namespace {

// Columns the database client delivers as floating point.
bool IsFloatColumn(const db::TIBRQuery& q, int i) {
  const int t = q.SqlType(i);
  return q.Kind(i) == db::FieldKind::Float || t == 480 || t == 482 || t == 530;
}

// Runs AES-CTR over `data` in place with the key made from `keyText`; the
// key is wiped whichever way this ends.
void AesCtrWithKeyText(const std::string& keyText, std::string& data, bool encrypt) {
  envelope::Key key = envelope::Make256BitKey(keyText);
  try {
    envelope::AesCtrInPlace(key, data.data(), data.size(), encrypt);
  } catch (...) {
    key.fill(0);
    throw;
  }
  key.fill(0);
}

// The "meta" member of a read action's answer.
void WriteMeta(TJsonWriter& writer, bool withOperatingSystem) {
  const TKonfiguration& config = Konfiguration();
  writer.Key("meta");
  writer.BeginObject();
  writer.Member("version", config.GetAppVersion());
  writer.Member("datenbankpfad", config.Datenbankpfad.get());
  if (withOperatingSystem) writer.Member("betriebssystem", config.GetBetriebssystem());
  writer.EndObject();
}

}  // namespace

std::string TWebRequest::Header(std::string_view name) const {
  for (const auto& [k, v] : Headers)
    if (EqualsNoCase(k, name)) return v;
  return {};
}

// The action table. Later actions are one row each.
const std::vector<TWebModul::TWebAction>& TWebModul::Actions() {
  static const std::vector<TWebAction> table = {
      {"V2QueryHandler", "POST", "/v2/query", &TWebModul::WebModulV2QueryHandlerAction,
       "WebModulV2QueryHandlerAction"},
      {"V2StreamHandler", "POST", "/v2/stream", &TWebModul::WebModulV2StreamHandlerAction,
       "WebModulV2StreamHandlerAction"},
      {"V2PlainStreamHandler", "POST", "/v2/plainstream", &TWebModul::WebModulV2PlainStreamHandlerAction,
       "WebModulV2PlainStreamHandlerAction"},
      {"V2QueryBatchHandler", "POST", "/v2/querybatch", &TWebModul::WebModulV2QueryBatchHandlerAction,
       "WebModulV2QueryBatchHandlerAction"},
      {"V2ExecuteHandler", "POST", "/v2/execute", &TWebModul::WebModulV2ExecuteHandlerAction,
       "WebModulV2ExecuteHandlerAction"},
      {"ExecuteHandler", nullptr, "/execute", &TWebModul::WebModulExecuteHandlerAction,
       "WebModulExecuteHandlerAction"},
      {"SettingsHandler", nullptr, "/settings", &TWebModul::WebModulSettingsHandlerAction,
       "WebModulSettingsHandlerAction"},
      {"UpdateBlobHandler", nullptr, "/updateblob", &TWebModul::WebModulUpdateBlobHandlerAction,
       "WebModulUpdateBlobHandlerAction"},
      {"V2ExecuteBatchHandler", "POST", "/v2/executebatch", &TWebModul::WebModulV2ExecuteBatchHandlerAction,
       "WebModulV2ExecuteBatchHandlerAction"},
      {"V2ExecuteStreamHandler", nullptr, "/v2/executestream", &TWebModul::WebModulV2ExecuteStreamHandlerAction,
       "WebModulV2ExecuteStreamHandlerAction"},
      {"V2InvokeHandler", nullptr, "/v2/invoke", &TWebModul::WebModulV2InvokeHandlerAction,
       "WebModulV2InvokeHandlerAction"},
      {"V2ReportHandler", nullptr, "/v2/report", &TWebModul::WebModulV2ReportHandlerAction,
       "WebModulV2ReportHandlerAction"},
  };
  return table;
}

const TWebModul::TWebAction* TWebModul::FindAction(std::string_view method, std::string_view path) {
  for (const auto& a : Actions()) {
    if (a.Method && method != a.Method) continue;
    if (EqualsNoCase(path, a.Path)) return &a;
  }
  return nullptr;
}

TWebModul::TWebModul(ServerContext& context) : context_(context) {
  LogDebug("ENTER: WebModuleCreate");
  Datamod = std::make_unique<TDatamod>([this](const std::string& rtf) { return ParseRTF(rtf); });
  LogDebug("LEAVE: WebModuleCreate");
}

TWebModul::~TWebModul() {
  LogDebug("ENTER: WebModuleDestroy");
  plainQuery_.reset();
  Datamod.reset();
  Datenbank.Close();
  LogDebug("LEAVE: WebModuleDestroy");
}

void TWebModul::CloseDatabase() {
  LogDebug("Close Database Connection");
  Datenbank.Close();
}

void TWebModul::ResponseSent() {
  // A streamed body is out: its query and the connection it read from are
  // released now, so an idle module holds no attachment.
  if (plainQuery_) {
    plainQuery_.reset();
    CloseDatabase();
  }
}

void TWebModul::HandleRequest(const TWebRequest& request, TWebResponse& response) {
  std::string message;
  bool socketError = false;
  try {
    bool handled = false;
    WebModuleBeforeDispatch(request, response, handled);
    if (handled) return;
    const TWebAction* action = FindAction(request.Method, request.PathInfo);
    if (!action) {
      response.StatusCode = 404;
      response.ReasonPhrase = "Not Found";
      response.ContentType = kDefaultContentType;
      response.Content = "Not Found";
      return;
    }
    (this->*(action->Action))(request, response);
    return;
  } catch (const Poco::Net::NetException& e) {
    message = e.displayText();
    socketError = true;
  } catch (const Poco::Exception& e) {
    message = e.displayText();
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown exception";
  }
  WebModuleException(message, socketError, response);
}

void TWebModul::WebModuleBeforeDispatch(const TWebRequest& request, TWebResponse& response, bool& handled) {
  LogDebug("ENTER: WebModuleBeforeDispatch");
  LogDebug("Close Database Connection");
  plainQuery_.reset();
  Datenbank.Close();
  if (QXAuthorizeBeforeDispatch(request, response)) {
    const std::string path = Konfiguration().Datenbankpfad.get();
    LogDebug("Set Database Name [" + path + "]");
    Datenbank.SetDatabaseName(path);
  } else {
    LogTrace("Authorization failed: mark request as handled and exit");
    handled = true;
  }
  LogDebug("LEAVE: WebModuleBeforeDispatch");
}

bool TWebModul::NeedsCredentials(std::string_view method, std::string_view pathInfo) {
  // Only the status page passes without: the watchdog and browsers call it
  // without credentials. Everything under "/v2/" and the root-level legacy
  // endpoints run SQL and need them.
  return !(method == "GET" && pathInfo == "/");
}

bool TWebModul::QXAuthorizeBeforeDispatch(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: QXAuthorizeBeforeDispatch");
  bool admitted = true;
  if (NeedsCredentials(request.Method, request.PathInfo) && !CheckTransactionId(request)) {
    response.StatusCode = 401;
    response.ReasonPhrase = "Transaction-ID nicht korrekt";
    response.ContentType = kDefaultContentType;
    response.Content = "Transaction-ID nicht korrekt";
    admitted = false;
  }
  LogDebug("LEAVE: QXAuthorizeBeforeDispatch");
  return admitted;
}

bool TWebModul::CheckTransactionId(const TWebRequest& request) {
  const std::string header = request.Header("Authorization");
  if (header.empty()) return false;
  const size_t blank = header.find(' ');
  if (blank == std::string::npos) return false;
  const std::string decoded = envelope::Base64DecodeLenient(std::string_view(header).substr(blank + 1));
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  const std::string key = Konfiguration().Sicherheitsschluessel.get();
  return decoded.compare(0, colon, key) == 0 && decoded.compare(colon + 1, std::string::npos, key) == 0;
}

std::pair<int, std::string> TWebModul::ErrorAnswer(const std::string& message) {
  const size_t marker = message.find("ERR:");
  if (marker == std::string::npos) return {950, message};
  std::string text = Trim(std::string_view(message).substr(marker));
  const size_t blank = text.find(' ');
  if (blank != std::string::npos) text = Trim(std::string_view(text).substr(blank + 1));
  return {951, text};
}

void TWebModul::WebModuleException(const std::string& message, bool socketError, TWebResponse& response) {
  LogDebug("ENTER: WebModuleException");
  const bool badRequest = message == "Bad Request";
  LogError(badRequest ? std::string(kBadRequestText) : message);
  try {
    response.Reset();
    if (badRequest) {
      response.StatusCode = 500;
      response.ContentType = "text/plain; charset=utf-8";
      response.Content = kBadRequestText;
    } else if (socketError) {
      response.StatusCode = 500;
      response.ContentType = "text/plain; charset=utf-8";
      response.Content = "Socketfehler";
    } else {
      auto [status, text] = ErrorAnswer(message);
      WriteEncryptedResponse(text, response);
      response.StatusCode = status;
      response.ReasonPhrase = status == 951 ? "ERR" : "Error";
    }
  } catch (...) {
    response.Reset();
    response.StatusCode = 500;
    response.ContentType = "text/plain; charset=utf-8";
    response.Content = message;
  }
  LogDebug("Close Database Connection");
  plainQuery_.reset();
  Datenbank.Close();
  LogDebug("LEAVE: WebModuleException");
}

// ---- envelope -------------------------------------------------------------

std::string TWebModul::Make256BitKey(const std::string& key) {
  LogDebug("ENTER: Make256BitKey");
  std::string text = envelope::Make256BitKeyText(key);
  LogDebug("LEAVE: Make256BitKey");
  return text;
}

void TWebModul::AESEncrypt(std::string& data) {
  LogDebug("ENTER: AESEncrypt");
  AesCtrWithKeyText(Make256BitKey(Konfiguration().Sicherheitsschluessel.get()), data, true);
  LogDebug("LEAVE: AESEncrypt");
}

void TWebModul::AESDecrypt(std::string& data) {
  LogDebug("ENTER: AESDecrypt");
  AesCtrWithKeyText(Make256BitKey(Konfiguration().Sicherheitsschluessel.get()), data, false);
  LogDebug("LEAVE: AESDecrypt");
}

std::string TWebModul::ReadEncryptedRequestStream(const TWebRequest& request) {
  LogDebug("ENTER: ReadEncryptedRequestStream");
  std::string data = envelope::Base64DecodeLenient(request.Content);
  AESDecrypt(data);
  LogDebug("LEAVE: ReadEncryptedRequestStream");
  return data;
}

std::string TWebModul::ReadEncryptedRequestHeader(const TWebRequest& request, const std::string& name) {
  LogDebug("ENTER: ReadEncryptedRequestHeader");
  std::string data = envelope::Base64DecodeLenient(request.Header(name));
  AESDecrypt(data);
  const std::string text = PayloadToText(data);
  // The plaintext as lines, each followed by CR LF.
  std::string out = LinesWithCrLf(text);
  LogDebug("LEAVE: ReadEncryptedRequestHeader");
  return out;
}

void TWebModul::WriteEncryptedResponseStream(std::string payload, TWebResponse& response) {
  LogDebug("ENTER: WriteEncryptedResponseStream");
  AESEncrypt(payload);
  response.Content.resize(envelope::Base64EncodedSize(payload.size()));
  envelope::Base64EncodeMimeTo(payload, response.Content.data());
  std::string().swap(payload);
  response.ContentType = "application/octet-stream";
  response.ContentStream = nullptr;
  LogDebug("LEAVE: WriteEncryptedResponseStream");
}

void TWebModul::WriteEncryptedResponse(const std::string& text, TWebResponse& response) {
  LogDebug("ENTER: WriteEncryptedResponse");
  WriteEncryptedResponseStream(text, response);
  LogDebug("LEAVE: WriteEncryptedResponse");
}

// ---- shared parts of the read actions -------------------------------------

std::string TWebModul::ParseRTF(const std::string& rtf) {
  LogDebug("ENTER: ParseRTF");
  const std::string id = NewTraceId();
  std::string text;
  LogTrace(id + " | Enter Rich Critical Section (Request): Parse RTF");
  {
    std::lock_guard lock(context_.RtfLock);
    LogTrace(id + " | Enter Rich Critical Section (Success): Parse RTF");
    try {
      text = RtfToText(rtf);
    } catch (const std::exception& e) {
      LogDebug(std::string("Exception: ") + e.what());
      text.clear();
    }
    LogTrace(id + " | Leave Rich Critical Section (Request): Parse RTF");
  }
  LogTrace(id + " | Leave Rich Critical Section (Success): Parse RTF");
  LogDebug("LEAVE: ParseRTF");
  return text;
}

void TWebModul::BindParams(db::TIBRQuery& query, const TRequestStatement& statement) {
  for (const auto& [name, value] : statement.Params) {
    bool asDate = false;
    DateTime date;
    try {
      date = ParseISODate(value);
      asDate = true;
    } catch (const std::exception&) {
    }
    if (asDate)
      query.SetParamDateTime(name, date);
    else
      query.SetParamText(name, value);
  }
}

void TWebModul::OpenTraced(db::TIBRQuery& query, const TRequestStatement& statement) {
  query.SetSQL(statement.Sql);
  BindParams(query, statement);
  const std::string id = NewTraceId();
  std::string line = id + " | SQL: " + statement.Sql + "\r\r";
  for (const auto& [name, value] : statement.Params) line += name + "=" + value + "\r";
  LogTrace(line);
  const auto start = std::chrono::steady_clock::now();
  query.Open();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::string done = id + " | SQL finished: " + std::to_string(ms) + " ms";
  if (ms >= static_cast<long long>(Konfiguration().FWarnLevel.get()) * 1000) done += " (Warning)";
  LogTrace(done);
}

void TWebModul::WriteRows(db::TIBRQuery& query, TJsonWriter& writer) {
  enum class Rule { Rtf, Date, Float, Cp1252Bytes, Text };
  struct Column {
    std::string name;
    Rule rule;
  };
  std::vector<Column> columns;
  const int n = query.FieldCount();
  columns.reserve(n);
  for (int i = 0; i < n; ++i) {
    const std::string& name = query.FieldName(i);
    Rule rule = Rule::Text;
    if (name.compare(0, 5, "RTF__") == 0)
      rule = Rule::Rtf;
    else if (query.Kind(i) == db::FieldKind::DateTime)
      rule = Rule::Date;
    else if (IsFloatColumn(query, i))
      rule = Rule::Float;
    else if (query.Kind(i) == db::FieldKind::BinaryBlob)
      rule = Rule::Cp1252Bytes;
    columns.push_back({LowerColumnName(name), rule});
  }
  while (!query.Eof()) {
    writer.BeginObject();
    for (int i = 0; i < n; ++i) {
      writer.Key(columns[i].name);
      switch (columns[i].rule) {
        case Rule::Rtf:
          writer.String(ParseRTF(query.IsNull(i) ? std::string() : query.AsText(i)));
          break;
        case Rule::Date:
          if (query.IsNull(i)) {
            writer.String("");
          } else {
            const DateTime v = query.AsDateTime(i);
            writer.String(IsZeroDateTime(v) ? std::string() : FormatIsoDateTime(v));
          }
          break;
        case Rule::Float:
          // NULL reads as 0, as the value of a float field does.
          writer.String(FormatFloatEnUS(query.IsNull(i) ? 0.0 : query.AsDouble(i)));
          break;
        case Rule::Cp1252Bytes:
          // Raw bytes read as text in the system's code page.
          writer.String(query.IsNull(i) ? std::string() : Cp1252ToUtf8(query.AsText(i)));
          break;
        case Rule::Text:
          writer.String(query.IsNull(i) ? std::string() : query.AsText(i));
          break;
      }
    }
    writer.EndObject();
    query.Next();
  }
}

void TWebModul::AnnouncePlatform(const std::string& headerText) {
  bool found = false;
  const std::string url = ReadRootMember(headerText, "url", &found);
  if (!found) return;
  TKonfiguration& config = Konfiguration();
  if (config.DevMode.get() || config.MatchesWebplattformURL(url)) return;
  const std::string id = NewTraceId();
  LogTrace(id + " | Enter Critical Section (Request): Neue Webplattform-URL");
  {
    std::lock_guard lock(context_.EventLock);
    LogTrace(id + " | Enter Critical Section (Success): Neue Webplattform-URL");
    LogTrace("Webplattform-URL: neu=[" + url + "], alt=[" + config.FWebplattformURL.get() + "]");
    config.SetWebplattformURL(url);
    config.SaveToFile();
    LogTrace(id + " | Leave Critical Section (Request): Neue Webplattform-URL");
  }
  LogTrace(id + " | Leave Critical Section (Success): Neue Webplattform-URL");
}

// ---- the read actions -----------------------------------------------------

void TWebModul::WebModulV2QueryHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2QueryHandlerAction");
  if (!request.Header("x-qx-platform").empty())
    AnnouncePlatform(ReadEncryptedRequestHeader(request, "x-qx-platform"));
  Datenbank.Open();
  CloseAtEnd close(*this);
  const TRequestStatement statement = ReadStatementBody(PayloadToText(ReadEncryptedRequestStream(request)));
  std::string json;
  TJsonWriter writer(json);
  writer.BeginObject();
  writer.Key("data");
  writer.BeginArray();
  {
    db::TIBRQuery query(Datenbank);
    OpenTraced(query, statement);
    WriteRows(query, writer);
    query.Close();
  }
  writer.EndArray();
  WriteMeta(writer, true);
  writer.EndObject();
  WriteEncryptedResponseStream(std::move(json), response);
  close.Close();
  LogDebug("LEAVE: WebModulV2QueryHandlerAction");
}

void TWebModul::WebModulV2QueryBatchHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2QueryBatchHandlerAction");
  Datenbank.Open();
  CloseAtEnd close(*this);
  const std::vector<TRequestStatement> statements =
      ReadBatchBody(PayloadToText(ReadEncryptedRequestStream(request)));
  std::string json;
  TJsonWriter writer(json);
  writer.BeginObject();
  writer.Key("data");
  writer.BeginArray();
  {
    db::TIBRQuery query(Datenbank);
    for (const auto& statement : statements) {
      OpenTraced(query, statement);
      writer.BeginArray();
      WriteRows(query, writer);
      writer.EndArray();
      query.Close();
    }
  }
  writer.EndArray();
  WriteMeta(writer, false);
  writer.EndObject();
  WriteEncryptedResponseStream(std::move(json), response);
  close.Close();
  LogDebug("LEAVE: WebModulV2QueryBatchHandlerAction");
}

void TWebModul::WebModulV2StreamHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2StreamHandlerAction");
  Datenbank.Open();
  CloseAtEnd close(*this);
  const TRequestStatement statement = ReadStatementBody(PayloadToText(ReadEncryptedRequestStream(request)));
  std::string bytes;
  {
    db::TIBRQuery query(Datenbank);
    OpenTraced(query, statement);
    if (!query.Eof()) {
      const int n = query.FieldCount();
      if (n == 1) {
        bytes = query.AsBytes(0);
      } else {
        for (int i = 0; i < n; ++i) bytes += query.AsBytes(i);
      }
    }
    query.Close();
  }
  WriteEncryptedResponseStream(std::move(bytes), response);
  close.Close();
  LogDebug("LEAVE: WebModulV2StreamHandlerAction");
}

void TWebModul::WebModulV2PlainStreamHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2PlainStreamHandlerAction");
  // The connection stays open while the body streams from it; the next
  // request's before-dispatch step closes it.
  Datenbank.Open();
  const TRequestStatement statement = ReadStatementBody(PayloadToText(ReadEncryptedRequestStream(request)));
  auto query = std::make_unique<db::TIBRQuery>(Datenbank);
  OpenTraced(*query, statement);
  if (!query->Eof() && query->FieldCount() > 0) {
    const int last = query->FieldCount() - 1;
    response.ContentType = "application/octet-stream";
    const db::FieldKind kind = query->Kind(last);
    if (kind == db::FieldKind::TextBlob || kind == db::FieldKind::BinaryBlob) {
      db::TIBRQuery* q = query.get();
      response.ContentStream = [q, last](std::ostream& out) {
        q->ReadBlob(last, [&out](std::string_view chunk) {
          out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
          if (!out) throw std::runtime_error("writing the response failed");
        });
      };
      plainQuery_ = std::move(query);
    } else {
      response.Content = query->AsBytes(last);
    }
  }
  if (!plainQuery_) {
    // Nothing to stream from: the connection is not needed any more.
    query.reset();
    CloseDatabase();
  }
  LogDebug("LEAVE: WebModulV2PlainStreamHandlerAction");
}

}  // namespace tarvo::server
