#include "server/StatementBodyReader.h"

#include "server/WriteBody.h"

namespace tarvo::server {

TStatementBodyReader::TStatementBodyReader(Mode mode, std::string_view member) : mode_(mode), member_(member) {}

bool TStatementBodyReader::IsTextKey() const {
  return (mode_ == Mode::Statement && Key() == "sql") || (mode_ == Mode::Invoke && Key() == "method");
}

bool TStatementBodyReader::Enter(At next) {
  stack_.push_back(at_);
  at_ = next;
  return true;
}

bool TStatementBodyReader::Leave() {
  at_ = stack_.back();
  stack_.pop_back();
  return true;
}

bool TStatementBodyReader::OnOpen(bool object) {
  switch (at_) {
    case At::Start:
      if (!object) return Fail();  // the root must be an object
      at_ = At::Root;
      return true;
    case At::Root:
      if (Batch()) {
        if (Key() == "statements") return object ? Fail() : Enter(At::Statements);
      } else if (mode_ == Mode::Member) {
        if (Key() == member_) return Fail();
      } else {
        if (Key() == "params") {
          if (!object) return Fail();
          names_.clear();
          return Enter(At::Params);
        }
        if (IsTextKey()) return Fail();
      }
      return Skip();
    case At::Statements:
      if (!object) return Fail();  // statements are objects
      batch.emplace_back();
      names_.clear();
      return Enter(At::Element);
    case At::Element:
      if (Key() == "params") return object ? Enter(At::Params) : Fail();
      if (Key() == "sql") return Fail();
      return Skip();
    case At::Params:
      return Fail();  // a parameter value must be a plain value
  }
  return Fail();
}

bool TStatementBodyReader::OnClose() {
  switch (at_) {
    case At::Root:
      return Stop();
    case At::Params:
      Leave();
      return at_ == At::Root ? Stop() : true;  // a single statement's "params" ends the reading
    case At::Element:
      return Leave();
    case At::Statements:
      return mode_ == Mode::QueryBatch ? Stop() : Leave();
    default:
      return Fail();
  }
}

bool TStatementBodyReader::OnScalar(std::string value) {
  switch (at_) {
    case At::Start:
    case At::Statements:
      return Fail();
    case At::Root:
      if (Batch()) {
        if (Key() == "statements") return Fail();
      } else if (mode_ == Mode::Member) {
        if (Key() == member_) {
          memberValue = std::move(value);
          memberFound = true;
        }
      } else {
        if (IsTextKey()) single.Sql = std::move(value);
        if (Key() == "params") return Fail();
      }
      return true;
    case At::Element:
      if (Key() == "sql") batch.back().Sql = std::move(value);
      if (Key() == "params") return Fail();
      return true;
    case At::Params: {
      std::string name = mode_ == Mode::Invoke ? UpperText(Key()) : Key();
      if (!names_.insert(name).second) return Fail();  // name repeated
      Current().Params.emplace_back(std::move(name), std::move(value));
      return true;
    }
  }
  return Fail();
}

}  // namespace tarvo::server
