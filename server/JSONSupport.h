// JSON as the Bridge server speaks it: a compact writer with exactly the
// escaping the web platform expects, and streaming readers for the request
// bodies that see members in document order.
//
// Threads: no shared state; any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::server {

// Raised for every unreadable request body or header; the web module
// answers it with status 500.
class EBadRequest : public std::runtime_error {
 public:
  EBadRequest() : std::runtime_error("Bad Request") {}
};

// Appends `text` (UTF-8) as a JSON string: '"' and '\' escaped with a
// backslash; U+0008, U+0009, U+000A, U+000C, U+000D as \b \t \n \f \r;
// other control characters and U+0085, U+2028, U+2029 as \uXXXX; "/" and
// all other characters as they are. Invalid UTF-8 bytes become U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);

// Compact JSON into a string the caller owns; no blanks, no line breaks.
// The caller keeps the nesting right; the writer only places commas.
class TJsonWriter {
 public:
  explicit TJsonWriter(std::string& out) : out_(out) {}
  void BeginObject() { Sep(); out_.push_back('{'); comma_ = false; }
  void EndObject() { out_.push_back('}'); comma_ = true; }
  void BeginArray() { Sep(); out_.push_back('['); comma_ = false; }
  void EndArray() { out_.push_back(']'); comma_ = true; }
  void Key(std::string_view name) {
    Sep();
    AppendJsonString(out_, name);
    out_.push_back(':');
    comma_ = false;
  }
  void String(std::string_view value) {
    Sep();
    AppendJsonString(out_, value);
    comma_ = true;
  }
  void Member(std::string_view name, std::string_view value) {
    Key(name);
    String(value);
  }
  std::string& Out() { return out_; }

 private:
  void Sep() {
    if (comma_) out_.push_back(',');
  }
  std::string& out_;
  bool comma_ = false;
};

// One statement of a request body: its SQL and its parameters (name as
// sent -> value text), each name at most once.
struct TRequestStatement {
  std::string Sql;
  std::vector<std::pair<std::string, std::string>> Params;
};

// Decrypted payload bytes -> text the readers take: a leading UTF-8
// byte-order mark dropped, invalid UTF-8 replaced by U+FFFD.
std::string PayloadToText(std::string_view payload);

// The body of a single-statement request: members of the root object in
// order; "sql" taken as text, "params" read into the map and then reading
// stops; other members skipped. Raises EBadRequest when the text is no
// JSON object, nests wrongly, or repeats a parameter name.
TRequestStatement ReadStatementBody(std::string_view text);

// The body of a batch: the root member "statements", an array of objects
// with "sql" and "params" in any order. Members after it are not read.
std::vector<TRequestStatement> ReadBatchBody(std::string_view text);

// The value of the root member `name` (the last one when repeated) of a
// JSON object; empty when absent. Raises EBadRequest when the text is no
// JSON object.
std::string ReadRootMember(std::string_view text, std::string_view name, bool* found = nullptr);

}  // namespace tarvo::server
