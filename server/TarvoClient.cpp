#include "server/TarvoClient.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

#include <stdexcept>

#include "server/Envelope.h"

namespace tarvo::server {
namespace {

std::string WithoutLineBreaks(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

void WriteStatement(TJsonWriter& w, const TRequestStatement& s) {
  w.BeginObject();
  w.Member("sql", s.Sql);
  if (!s.Params.empty()) {
    w.Key("params");
    w.BeginObject();
    for (const auto& [name, value] : s.Params) w.Member(name, value);
    w.EndObject();
  }
  w.EndObject();
}

}  // namespace

TTarvoClient::TTarvoClient(std::string url, std::string key) : key_(std::move(key)) {
  Poco::URI uri(url);
  host_ = uri.getHost();
  port_ = uri.getPort();
  if (host_.empty()) throw std::runtime_error("no host in URL " + url);
}

std::string TTarvoClient::Authorization() const {
  return "Basic " + WithoutLineBreaks(envelope::Base64EncodeMime(key_ + ":" + key_));
}

std::string TTarvoClient::EncryptHeader(const std::string& text) const {
  return WithoutLineBreaks(envelope::EncryptToBase64(key_, text));
}

std::string TTarvoClient::Decrypt(const std::string& body) const {
  return envelope::DecryptFromBase64(key_, body);
}

TClientResponse TTarvoClient::Send(const std::string& method, const std::string& path, const std::string& body,
                                   const THeaders& headers, bool credentials) const {
  try {
    Poco::Net::HTTPClientSession session(host_, port_);
    session.setTimeout(Poco::Timespan(timeoutSeconds_, 0));
    session.setKeepAlive(false);
    Poco::Net::HTTPRequest request(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
    request.setKeepAlive(false);
    if (credentials) request.set("Authorization", Authorization());
    for (const auto& [name, value] : headers) request.set(name, value);
    if (!body.empty() || method == "POST" || method == "PUT") {
      request.setContentLength64(static_cast<Poco::Int64>(body.size()));
      if (!request.has("Content-Type")) request.setContentType("text/plain");
    }
    std::ostream& out = session.sendRequest(request);
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    Poco::Net::HTTPResponse response;
    std::istream& in = session.receiveResponse(response);
    TClientResponse result;
    result.Status = static_cast<int>(response.getStatus());
    result.Reason = response.getReason();
    result.ContentType = response.getContentType();
    if (response.hasContentLength() && response.getContentLength64() > 0)
      result.Body.reserve(static_cast<size_t>(response.getContentLength64()));
    char buf[65536];
    while (in) {
      in.read(buf, sizeof buf);
      if (in.gcount() <= 0) break;
      result.Body.append(buf, static_cast<size_t>(in.gcount()));
    }
    if (response.hasContentLength() && response.getContentLength64() >= 0 &&
        static_cast<Poco::Int64>(result.Body.size()) != response.getContentLength64())
      throw std::runtime_error("answer cut short");
    return result;
  } catch (const Poco::Exception& e) {
    throw std::runtime_error(e.displayText());
  }
}

TClientResponse TTarvoClient::PostEncrypted(const std::string& path, const std::string& json,
                                            const THeaders& headers) const {
  return Send("POST", path, envelope::EncryptToBase64(key_, json), headers, true);
}

std::string TTarvoClient::StatementBody(const TRequestStatement& statement) {
  std::string out;
  TJsonWriter w(out);
  WriteStatement(w, statement);
  return out;
}

std::string TTarvoClient::BatchBody(const std::vector<TRequestStatement>& statements) {
  std::string out;
  TJsonWriter w(out);
  w.BeginObject();
  w.Key("statements");
  w.BeginArray();
  for (const auto& s : statements) WriteStatement(w, s);
  w.EndArray();
  w.EndObject();
  return out;
}

}  // namespace tarvo::server
