// The legacy SQL operations behind "/execute" (WebLegacy.cpp): a read that
// answers {"query":[rows]} and a write that answers a small status JSON.
// One TDatamod belongs to each web module instance and works on that
// module's connection; it is used by one thread at a time.
//
// Legacy read JSON: compact; member names are the column names
// lower-cased; every value is a string built in two stages: first
// EscapeJsonText of the column's text, then the JSON string escaping of
// this format, which puts a backslash before '"', '\' and '/' and writes
// U+0008, U+0009, U+000A, U+000C, U+000D as \b \t \n \f \r. The web
// platform's legacy client undoes the first stage itself.
//
// Status JSON, blanks exactly so:
//   { "status":"OK", "message":"" }
//   { "status":"error", "message":"TEXT" }   TEXT: the error message
//                                            without '"', EscapeJsonText
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/IBTarvo.h"

namespace tarvo::server {

// The statement-kind tokens of "/execute": the "statement" field carries
// the MD5 of one of them (32 lower-case hex digits). Twelve ASCII
// characters each; they are shared with the web platform and must equal
// the web platform's, or its legacy requests are refused.
struct TStatementTokens {
  static constexpr std::string_view Select = "TvLsSelect17";
  static constexpr std::string_view Update = "TvLsUpdate42";
  static constexpr std::string_view Insert = "TvLsInsert08";
  static constexpr std::string_view Delete = "TvLsDelete93";
};

// MD5 of the bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

// Backslash -> \\, "/" -> \/, LF -> \n, CR -> \r, BS -> \b, TAB -> \t,
// FF -> \f, in this order; then every other character below U+0020
// becomes a blank. The quotation mark is left alone.
std::string EscapeJsonText(std::string_view text);

// Appends `text` as a string of the legacy JSON (second stage above).
void AppendLegacyJsonString(std::string& out, std::string_view text);

// The legacy read JSON of the rows of `query` from its first row on;
// opens it when it is not open. `rtfBlobToText` converts blob columns of
// raw bytes.
std::string QueryToJson(db::TIBRQuery& query, const std::function<std::string(const std::string&)>& rtfBlobToText);

class TDatamod {
 public:
  // `parseRtf`: the process's RTF-to-text conversion (under its lock).
  explicit TDatamod(std::function<std::string(const std::string&)> parseRtf);
  ~TDatamod();
  TDatamod(const TDatamod&) = delete;
  TDatamod& operator=(const TDatamod&) = delete;

  // Works on `database` from now on; opens it when closed. Raises the
  // database layer's errors.
  void AttachDatabase(db::TIBRDATABASE& database);

  // Runs a SELECT; returns the legacy read JSON. Raises on SQL errors.
  std::string ReadSql(const std::string& sql);
  // Runs a write in the connection's default transaction and commits
  // (retaining); on an error rolls back (retaining) and returns the
  // failure JSON instead of raising.
  std::string ExecuteSql(const std::string& sql);

  // The plain text of a blob of raw bytes read as RTF (plain text when it
  // is none), one line per paragraph, each followed by CR LF.
  std::string RtfBlobToText(const std::string& bytes) const;

  db::TIBRDATABASE* Fdatenbank = nullptr;
  std::unique_ptr<db::TIBRQuery> TmpQuery;
  // Addresses of the customer; attached but run by no endpoint.
  std::unique_ptr<db::TIBRQuery> AdressenQuery;

 private:
  std::function<std::string(const std::string&)> parseRtf_;
};

}  // namespace tarvo::server
