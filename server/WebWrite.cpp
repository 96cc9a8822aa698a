#include "server/WebWrite.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "server/Reconfigure.h"
#include "server/RowFormat.h"
#include "server/Web.h"
#include "server/WebHelpers.h"
#include "server/WriteBody.h"

namespace tarvo::server {
namespace {

constexpr const char* kEmptyData = "{\"data\":[]}";
// A batch looks at its client's connection after this many statements.
constexpr size_t kConnectionCheckInterval = 100;

bool IsIsoDateTime(std::string_view value) {
  if (!HasIsoDateShape(value)) return false;
  try {
    ParseISODate(value);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Rolls back (retaining) unless Done() was called: every exit by an
// exception undoes the request's work.
class RollbackUnlessDone {
 public:
  explicit RollbackUnlessDone(db::TIBRDATABASE& d) : d_(d) {}
  ~RollbackUnlessDone() {
    if (done_) return;
    try {
      d_.RollbackRetaining();
    } catch (...) {
      // The connection is closed next, which rolls back what is left.
    }
  }
  void Done() { done_ = true; }
  RollbackUnlessDone(const RollbackUnlessDone&) = delete;
  RollbackUnlessDone& operator=(const RollbackUnlessDone&) = delete;

 private:
  db::TIBRDATABASE& d_;
  bool done_ = false;
};

void RequireClient(const TWebRequest& request) {
  if (request.ClientConnected && !request.ClientConnected())
    throw std::runtime_error("Client hat die Verbindung getrennt; nichts gespeichert");
}

}  // namespace

WriteBinding WriteBindingOf(std::string_view value) {
  if (IsIsoDateTime(value)) return WriteBinding::DateTime;
  if (value == "null" || value == "NULL") return WriteBinding::Null;
  return WriteBinding::Text;
}

void TWebModul::BindWriteParams(db::TIBRQuery& query, const TRequestStatement& statement) {
  for (const auto& [name, value] : statement.Params) {
    switch (WriteBindingOf(value)) {
      case WriteBinding::DateTime:
        query.SetParamDateTime(name, ParseISODate(value));
        break;
      case WriteBinding::Null:
        query.SetParamNull(name);
        break;
      case WriteBinding::Text:
        query.SetParamText(name, value);
        break;
    }
  }
}

void TWebModul::ExecTraced(db::TIBRQuery& query, const TRequestStatement& statement, bool sqlOnly) {
  const TKonfiguration& config = Konfiguration();
  if (!config.TraceLog.get() && !config.DebugLog.get()) {
    // Neither trace line would be written: spare the id and the texts.
    query.ExecSQL();
    return;
  }
  const std::string id = NewTraceId();
  std::string line = id + " | SQL: " + statement.Sql + "\r\r";
  if (!sqlOnly)
    for (const auto& [name, value] : statement.Params) line += name + "=" + value + "\r";
  LogTrace(line);
  const auto start = std::chrono::steady_clock::now();
  query.ExecSQL();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::string done = id + " | SQL finished: " + std::to_string(ms) + " ms";
  if (ms >= static_cast<long long>(Konfiguration().FWarnLevel.get()) * 1000) done += " (Warning)";
  LogTrace(done);
}

void TWebModul::WebModulV2ExecuteHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2ExecuteHandlerAction");
  {
    Datenbank.Open();
    CloseAtEnd close(*this);
    const TRequestStatement statement = ReadStatementBody(PayloadToText(ReadEncryptedRequestStream(request)));
    if (statement.Sql.compare(0, kCommandPrefix.size(), kCommandPrefix) == 0) {
      ConfigureTarvoserver(context_, statement.Sql, statement.Params);
    } else {
      Datenbank.StartTransaction();
      RollbackUnlessDone guard(Datenbank);
      db::TIBRQuery query(Datenbank);
      query.SetSQL(statement.Sql);
      BindWriteParams(query, statement);
      ExecTraced(query, statement);
      Datenbank.CommitRetaining();
      guard.Done();
      query.Close();
    }
    WriteEncryptedResponseStream(kEmptyData, response);
  }
  LogDebug("LEAVE: WebModulV2ExecuteHandlerAction");
}

void TWebModul::WebModulV2ExecuteBatchHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2ExecuteBatchHandlerAction");
  {
    Datenbank.Open();
    CloseAtEnd close(*this);
    const std::vector<TRequestStatement> statements =
        ReadExecuteBatchBody(PayloadToText(ReadEncryptedRequestStream(request)));
    // One query per statement; a statement with the same text as the one
    // before re-uses its prepared query.
    std::vector<std::unique_ptr<db::TIBRQuery>> queries;
    queries.reserve(statements.size());
    Datenbank.StartTransaction();
    {
      RollbackUnlessDone guard(Datenbank);
      for (size_t i = 0; i < statements.size(); ++i) {
        const TRequestStatement& statement = statements[i];
        if (i > 0 && statement.Sql == statements[i - 1].Sql) {
          queries.back()->ClearParams();
        } else {
          queries.push_back(std::make_unique<db::TIBRQuery>(Datenbank));
          queries.back()->SetSQL(statement.Sql);
        }
        BindWriteParams(*queries.back(), statement);
        ExecTraced(*queries.back(), statement);
        if ((i + 1) % kConnectionCheckInterval == 0) RequireClient(request);
      }
      RequireClient(request);
      Datenbank.CommitRetaining();
      guard.Done();
    }
    for (auto& q : queries) q->Close();
    queries.clear();
    WriteEncryptedResponseStream(kEmptyData, response);
  }
  LogDebug("LEAVE: WebModulV2ExecuteBatchHandlerAction");
}

void TWebModul::WebModulV2ExecuteStreamHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2ExecuteStreamHandlerAction");
  {
    Datenbank.Open();
    CloseAtEnd close(*this);
    const TRequestStatement statement = ReadStatementBody(ReadEncryptedRequestHeader(request, "x-qx-command"));
    std::string bytes = ReadEncryptedRequestStream(request);
    Datenbank.StartTransaction();
    RollbackUnlessDone guard(Datenbank);
    db::TIBRQuery query(Datenbank);
    query.SetSQL(statement.Sql);
    for (const auto& [name, value] : statement.Params) {
      if (UpperText(name) == "BYTES") {
        query.SetParamBlob(name, bytes);
      } else {
        TRequestStatement one;
        one.Params.emplace_back(name, value);
        BindWriteParams(query, one);
      }
    }
    // The query holds its own copy from here on.
    std::string().swap(bytes);
    ExecTraced(query, statement, true);
    Datenbank.CommitRetaining();
    guard.Done();
    query.Close();
    WriteEncryptedResponseStream(kEmptyData, response);
  }
  LogDebug("LEAVE: WebModulV2ExecuteStreamHandlerAction");
}

}  // namespace tarvo::server
