// The common ground of the server's request body readers: a SAX handler
// that hands the values a reader takes to it and skips, by depth, the
// nested values it does not, so that no event recurses whatever the
// nesting of the body.
#pragma once

#include <nlohmann/json.hpp>

#include <exception>
#include <string>
#include <string_view>

#include "server/JSONSupport.h"

namespace tarvo::server {

// `Derived` implements
//   bool OnOpen(bool object);     // an object or array begins
//   bool OnClose();               // the innermost one read ends
//   bool OnScalar(std::string v); // a plain value, as text
// and answers each with true to go on, Fail() or Stop(). From OnOpen it
// may call Skip() to pass over the value that begins. Key() is the member
// name of the current value. JSON null arrives as `nullText`.
template <typename Derived>
class BodySaxReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit BodySaxReader(std::string nullText = {}) : nullText_(std::move(nullText)) {}

  bool failed = false;  // the body is not what the reader takes
  bool done = false;    // the reader reached the end of what it reads

  bool null() override { return Scalar(nullText_); }
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

 protected:
  const std::string& Key() const { return key_; }
  bool Fail() {
    failed = true;
    return false;
  }
  bool Stop() {
    done = true;
    return false;
  }
  bool Skip() {
    skip_ = 1;
    return true;
  }

 private:
  Derived& Self() { return static_cast<Derived&>(*this); }
  bool Open(bool object) {
    if (skip_ > 0) {
      ++skip_;
      return true;
    }
    return Self().OnOpen(object);
  }
  bool Close() {
    if (skip_ > 0) {
      --skip_;
      return true;
    }
    return Self().OnClose();
  }
  bool Scalar(std::string value) { return skip_ > 0 || Self().OnScalar(std::move(value)); }

  std::string nullText_;
  std::string key_;
  size_t skip_ = 0;
};

// Feeds `text` to `reader` (a BodySaxReader); raises EBadRequest when the
// parser rejects the text, the reader failed or it did not reach the end
// of what it reads.
template <typename Reader>
void RunBodyReader(Reader& reader, std::string_view text) {
  try {
    nlohmann::json::sax_parse(text.begin(), text.end(), &reader, nlohmann::detail::input_format_t::json, true);
  } catch (const std::exception&) {
    throw EBadRequest();
  }
  if (reader.failed || !reader.done) throw EBadRequest();
}

}  // namespace tarvo::server
