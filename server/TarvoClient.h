// The web platform's side of the protocol: builds requests as the platform
// sends them (Basic credentials from the security key, encrypted JSON
// bodies, the encrypted "x-qx-platform" announcement) and decrypts the
// answers. Used by the command-line tool, the end-to-end tests and the
// benchmarks.
//
// Threads: one instance per thread; instances share nothing.
// Errors: connection failures raise std::runtime_error; HTTP error
// statuses are returned, not thrown.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server/JSONSupport.h"

namespace tarvo::server {

struct TClientResponse {
  int Status = 0;
  std::string Reason;
  std::string ContentType;
  std::string Body;
};

using THeaders = std::vector<std::pair<std::string, std::string>>;

class TTarvoClient {
 public:
  // `url` like "http://localhost:50600"; `key` the shared security key.
  TTarvoClient(std::string url, std::string key);

  // One request as it stands; `credentials` adds the Authorization header.
  TClientResponse Send(const std::string& method, const std::string& path, const std::string& body,
                       const THeaders& headers = {}, bool credentials = true) const;
  // POSTs the JSON text in an envelope.
  TClientResponse PostEncrypted(const std::string& path, const std::string& json,
                                const THeaders& headers = {}) const;

  // The plaintext of an encrypted answer (200, 950, 951).
  std::string Decrypt(const std::string& body) const;
  // An encrypted header value (Base64 without line breaks).
  std::string EncryptHeader(const std::string& text) const;
  // "Basic " + Base64 of key ":" key.
  std::string Authorization() const;

  // Request bodies.
  static std::string StatementBody(const TRequestStatement& statement);
  static std::string BatchBody(const std::vector<TRequestStatement>& statements);

  const std::string& Key() const { return key_; }
  void SetTimeoutSeconds(int seconds) { timeoutSeconds_ = seconds; }

 private:
  std::string host_;
  unsigned short port_ = 80;
  std::string key_;
  int timeoutSeconds_ = 120;
};

}  // namespace tarvo::server
