// The reader of every request body that carries statements: the single
// statement of the read actions, the batches of "/v2/querybatch" and
// "/v2/executebatch", the invoke request and the lookup of one root member.
// The entry points are ReadStatementBody, ReadBatchBody and ReadRootMember
// (JSONSupport.h), ReadExecuteBatchBody and ReadInvokeBody (WriteBody.h).
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "server/JSONSupport.h"
#include "server/JsonBodyReader.h"

namespace tarvo::server {

class TStatementBodyReader : public BodySaxReader<TStatementBodyReader> {
 public:
  enum class Mode {
    Statement,     // root "sql" and "params"; the end of "params" ends the reading
    Invoke,        // root "method" (into Sql) and "params" with upper-cased names, likewise
    QueryBatch,    // the first root "statements"; its end ends the reading
    ExecuteBatch,  // every root "statements", the whole root object
    Member,        // the value of the root member named at construction
  };

  explicit TStatementBodyReader(Mode mode, std::string_view member = {});

  TRequestStatement single;                // Statement, Invoke
  std::vector<TRequestStatement> batch;    // QueryBatch, ExecuteBatch
  std::string memberValue;                 // Member
  bool memberFound = false;

  bool OnOpen(bool object);
  bool OnClose();
  bool OnScalar(std::string value);

 private:
  enum class At {
    Start,       // before the root value
    Root,        // in the root object
    Params,      // in a "params" object
    Statements,  // in a "statements" array
    Element,     // in one statement object of a batch
  };

  bool Batch() const { return mode_ == Mode::QueryBatch || mode_ == Mode::ExecuteBatch; }
  // The root member holding the single statement's text.
  bool IsTextKey() const;
  TRequestStatement& Current() { return Batch() ? batch.back() : single; }
  bool Enter(At next);
  bool Leave();

  Mode mode_;
  std::string member_;
  At at_ = At::Start;
  std::vector<At> stack_;
  std::unordered_set<std::string> names_;
};

}  // namespace tarvo::server
