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

using nlohmann::json;

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
class ReportBodyReader : public nlohmann::json_sax<json> {
 public:
  TReportJob job;
  bool done = false;
  bool failed = false;

  bool null() override { return Scalar("null"); }
  bool boolean(bool v) override { return Scalar(v ? "true" : "false"); }
  bool number_integer(number_integer_t v) override { return Scalar(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return Scalar(std::to_string(v)); }
  bool number_float(number_float_t, const string_t& raw) override { return Scalar(raw); }
  bool string(string_t& v) override { return Scalar(std::move(v)); }
  bool binary(binary_t&) override { return Fail(); }
  bool start_object(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    if (skip_ == 0) key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return Fail(); }

 private:
  enum class At { Start, Root, Params };

  bool Fail() {
    failed = true;
    return false;
  }

  bool Open(bool object) {
    if (skip_ > 0) {
      ++skip_;
      return true;
    }
    switch (at_) {
      case At::Start:
        if (!object) return Fail();
        at_ = At::Root;
        return true;
      case At::Root:
        if (key_ == "params") {
          if (!object) return Fail();
          at_ = At::Params;
          return true;
        }
        skip_ = 1;  // a nested value of another member: not read
        return true;
      case At::Params:
        return Fail();  // parameter values are plain values
    }
    return Fail();
  }

  bool Close() {
    if (skip_ > 0) {
      --skip_;
      return true;
    }
    done = true;  // the end of "params" or of the root object
    return false;
  }

  bool Scalar(std::string value) {
    if (skip_ > 0) return true;
    switch (at_) {
      case At::Start:
        return Fail();
      case At::Root:
        if (key_ == "bereich") {
          job.Bereich = Upper(std::move(value));
        } else if (key_ == "art") {
          job.Art = Upper(std::move(value));
        } else if (key_ == "name") {
          job.Name = Upper(std::move(value));
        } else if (key_ == "format") {
          job.Format = Lower(std::move(value));
        } else if (key_ == "id") {
          job.Nr = DecryptValue(value);
        } else if (key_ == "params") {
          return Fail();
        }
        return true;
      case At::Params:
        if (!names_.insert(key_).second) return Fail();
        if (key_ == "nr") {
          if (job.Nr.empty()) job.Nr = std::move(value);
        } else {
          job.Params.emplace_back(key_, std::move(value));
        }
        return true;
    }
    return Fail();
  }

  At at_ = At::Start;
  std::string key_;
  size_t skip_ = 0;
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
