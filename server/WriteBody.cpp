#include "server/WriteBody.h"

#include <nlohmann/json.hpp>

#include <unordered_set>

#include "server/JsonBodyReader.h"

namespace tarvo::server {
namespace {

using nlohmann::json;

// Events of the parser in document order; nesting that is not read is
// skipped by depth, so nothing recurses.
class Reader : public nlohmann::json_sax<json> {
 public:
  enum class Mode { Batch, Invoke };
  explicit Reader(Mode mode) : mode_(mode) {}

  bool failed = false;
  bool done = false;
  std::vector<TRequestStatement> statements;
  TRequestStatement single;

  bool null() override { return Scalar(std::string()); }
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
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return Fail();
  }

 private:
  enum class At { Start, Root, Statements, Element, Params };

  bool Fail() {
    failed = true;
    return false;
  }

  TRequestStatement& Current() { return mode_ == Mode::Batch ? statements.back() : single; }

  bool Enter(At next) {
    stack_.push_back(at_);
    at_ = next;
    return true;
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
        if (mode_ == Mode::Batch && key_ == "statements") return object ? Fail() : Enter(At::Statements);
        if (mode_ == Mode::Invoke && key_ == "params") {
          if (!object) return Fail();
          names_.clear();
          return Enter(At::Params);
        }
        if (mode_ == Mode::Invoke && key_ == "method") return Fail();
        skip_ = 1;
        return true;
      case At::Statements:
        if (!object) return Fail();
        statements.emplace_back();
        names_.clear();
        return Enter(At::Element);
      case At::Element:
        if (key_ == "params") return object ? Enter(At::Params) : Fail();
        if (key_ == "sql") return Fail();
        skip_ = 1;
        return true;
      case At::Params:
        return Fail();
    }
    return Fail();
  }

  bool Close() {
    if (skip_ > 0) {
      --skip_;
      return true;
    }
    switch (at_) {
      case At::Root:
        done = true;
        return false;  // the root object ends the reading
      case At::Params:
      case At::Element:
      case At::Statements:
        at_ = stack_.back();
        stack_.pop_back();
        if (mode_ == Mode::Invoke && at_ == At::Root) {
          done = true;  // "params" ends the reading
          return false;
        }
        return true;
      default:
        return Fail();
    }
  }

  bool Scalar(std::string value) {
    if (skip_ > 0) return true;
    switch (at_) {
      case At::Start:
      case At::Statements:
        return Fail();
      case At::Root:
        if (mode_ == Mode::Batch && key_ == "statements") return Fail();
        if (mode_ == Mode::Invoke && key_ == "params") return Fail();
        if (mode_ == Mode::Invoke && key_ == "method") single.Sql = std::move(value);
        return true;
      case At::Element:
        if (key_ == "params") return Fail();
        if (key_ == "sql") statements.back().Sql = std::move(value);
        return true;
      case At::Params: {
        std::string name = mode_ == Mode::Invoke ? UpperText(key_) : key_;
        if (!names_.insert(name).second) return Fail();
        Current().Params.emplace_back(std::move(name), std::move(value));
        return true;
      }
    }
    return Fail();
  }

  Mode mode_;
  At at_ = At::Start;
  std::vector<At> stack_;
  std::string key_;
  size_t skip_ = 0;
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
