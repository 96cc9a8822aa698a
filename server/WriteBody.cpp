#include "server/WriteBody.h"

#include <nlohmann/json.hpp>

#include <unordered_set>

#include "server/JsonBodyReader.h"

namespace tarvo::server {
namespace {

// The batch and the invoke body, member by member in document order.
class Reader : public BodySaxReader<Reader> {
 public:
  enum class Mode { Batch, Invoke };
  explicit Reader(Mode mode) : mode_(mode) {}

  std::vector<TRequestStatement> statements;
  TRequestStatement single;

  bool OnOpen(bool object) {
    switch (at_) {
      case At::Start:
        if (!object) return Fail();
        at_ = At::Root;
        return true;
      case At::Root:
        if (mode_ == Mode::Batch && Key() == "statements") return object ? Fail() : Enter(At::Statements);
        if (mode_ == Mode::Invoke && Key() == "params") {
          if (!object) return Fail();
          names_.clear();
          return Enter(At::Params);
        }
        if (mode_ == Mode::Invoke && Key() == "method") return Fail();
        return Skip();
      case At::Statements:
        if (!object) return Fail();
        statements.emplace_back();
        names_.clear();
        return Enter(At::Element);
      case At::Element:
        if (Key() == "params") return object ? Enter(At::Params) : Fail();
        if (Key() == "sql") return Fail();
        return Skip();
      case At::Params:
        return Fail();
    }
    return Fail();
  }

  bool OnClose() {
    switch (at_) {
      case At::Root:
        return Stop();  // the root object ends the reading
      case At::Params:
      case At::Element:
      case At::Statements:
        at_ = stack_.back();
        stack_.pop_back();
        if (mode_ == Mode::Invoke && at_ == At::Root) return Stop();  // "params" ends the reading
        return true;
      default:
        return Fail();
    }
  }

  bool OnScalar(std::string value) {
    switch (at_) {
      case At::Start:
      case At::Statements:
        return Fail();
      case At::Root:
        if (mode_ == Mode::Batch && Key() == "statements") return Fail();
        if (mode_ == Mode::Invoke && Key() == "params") return Fail();
        if (mode_ == Mode::Invoke && Key() == "method") single.Sql = std::move(value);
        return true;
      case At::Element:
        if (Key() == "params") return Fail();
        if (Key() == "sql") statements.back().Sql = std::move(value);
        return true;
      case At::Params: {
        std::string name = mode_ == Mode::Invoke ? UpperText(Key()) : Key();
        if (!names_.insert(name).second) return Fail();
        Current().Params.emplace_back(std::move(name), std::move(value));
        return true;
      }
    }
    return Fail();
  }

 private:
  enum class At { Start, Root, Statements, Element, Params };

  TRequestStatement& Current() { return mode_ == Mode::Batch ? statements.back() : single; }

  bool Enter(At next) {
    stack_.push_back(at_);
    at_ = next;
    return true;
  }

  Mode mode_;
  At at_ = At::Start;
  std::vector<At> stack_;
  std::unordered_set<std::string> names_;
};

}  // namespace

std::string UpperText(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00E0..U+00FE without U+00F7 (division sign): minus 0x20.
      const auto d = static_cast<unsigned char>(out[i + 1]);
      if (d >= 0xA0 && d <= 0xBE && d != 0xB7) out[i + 1] = static_cast<char>(d - 0x20);
      ++i;
    }
  }
  return out;
}

std::vector<TRequestStatement> ReadExecuteBatchBody(std::string_view text) {
  Reader reader(Reader::Mode::Batch);
  RunBodyReader(reader, text);
  return std::move(reader.statements);
}

TRequestStatement ReadInvokeBody(std::string_view text) {
  Reader reader(Reader::Mode::Invoke);
  RunBodyReader(reader, text);
  return std::move(reader.single);
}

}  // namespace tarvo::server
