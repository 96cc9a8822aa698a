#include "server/WebReport.h"

#include <nlohmann/json.hpp>

#include <unordered_set>

#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "server/JSONSupport.h"
#include "server/JsonBodyReader.h"
#include "server/Token.h"
#include "server/Web.h"

namespace tarvo::server {
namespace {

std::string Upper(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// Walks the root object's members in order; skips nested values it does
// not read; stops at the end of "params".
class ReportBodyReader : public BodySaxReader<ReportBodyReader> {
 public:
  ReportBodyReader() : BodySaxReader("null") {}

  TReportJob job;

  bool OnOpen(bool object) {
    switch (at_) {
      case At::Start:
        if (!object) return Fail();
        at_ = At::Root;
        return true;
      case At::Root:
        if (Key() == "params") {
          if (!object) return Fail();
          at_ = At::Params;
          return true;
        }
        return Skip();  // a nested value of another member: not read
      case At::Params:
        return Fail();  // parameter values are plain values
    }
    return Fail();
  }

  bool OnClose() { return Stop(); }  // the end of "params" or of the root object

  bool OnScalar(std::string value) {
    const std::string& key = Key();
    switch (at_) {
      case At::Start:
        return Fail();
      case At::Root:
        if (key == "bereich") {
          job.Bereich = Upper(std::move(value));
        } else if (key == "art") {
          job.Art = Upper(std::move(value));
        } else if (key == "name") {
          job.Name = Upper(std::move(value));
        } else if (key == "format") {
          job.Format = Lower(std::move(value));
        } else if (key == "id") {
          job.Nr = DecryptValue(value);
        } else if (key == "params") {
          return Fail();
        }
        return true;
      case At::Params:
        if (!names_.insert(key).second) return Fail();
        if (key == "nr") {
          if (job.Nr.empty()) job.Nr = std::move(value);
        } else {
          job.Params.emplace_back(key, std::move(value));
        }
        return true;
    }
    return Fail();
  }

 private:
  enum class At { Start, Root, Params };

  At at_ = At::Start;
  std::unordered_set<std::string> names_;
};

}  // namespace

TReportJob ReadReportBody(std::string_view text) {
  ReportBodyReader reader;
  RunBodyReader(reader, text);
  return std::move(reader.job);
}

void TWebModul::WebModulV2ReportHandlerAction(const TWebRequest& request, TWebResponse& response) {
  LogDebug("ENTER: WebModulV2ReportHandlerAction");
  // Held for the request, whatever happens to the context's reference.
  const std::shared_ptr<TSpooler> spooler = context_.Spooler;
  if (!spooler) throw std::runtime_error(kReportUnavailableText);
  TReportJob job;
  std::unique_ptr<TSlotTicket> ticket = spooler->Admit(
      [&] { return ReadReportBody(PayloadToText(ReadEncryptedRequestStream(request))); }, job);
  if (!context_.Session0 && context_.PostRefreshUI) {
    LogTrace(NewTraceId() + " | Post Message: HWND=" + std::to_string(spooler->WindowHandle()) +
             ", CM_REFRESH_UI=32769");
    context_.PostRefreshUI();
  }
  std::string bytes = spooler->Execute(
      *ticket, job, [this] { Datenbank.Open(); }, [this] { CloseDatabase(); });
  WriteEncryptedResponseStream(std::move(bytes), response);
  ticket.reset();
  LogDebug("LEAVE: WebModulV2ReportHandlerAction");
}

}  // namespace tarvo::server
