// The values that flow through a report: data-set fields, query
// parameters, script results. A small tagged value; text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "common/DateTime.h"
#include "common/FormatSettings.h"

namespace tarvo::report {

// Declared type of a query parameter or of a field.
enum class DataType { String, Integer, Float, DateTime, Blob };

// Parses "string", "integer", "float", "datetime" (also "date"), "blob";
// letter case ignored. Raises std::runtime_error for anything else.
DataType ParseDataType(const std::string& name);
const char* DataTypeName(DataType type);

struct Bytes {
  std::string data;
  friend bool operator==(const Bytes&, const Bytes&) = default;
};

class Value {
 public:
  Value() = default;  // null
  Value(std::string text) : v_(std::move(text)) {}
  Value(const char* text) : v_(std::string(text)) {}
  Value(double number) : v_(number) {}
  Value(int64_t number) : v_(number) {}
  Value(int number) : v_(int64_t{number}) {}
  Value(bool flag) : v_(flag) {}
  Value(const DateTime& dt) : v_(dt) {}
  Value(Bytes bytes) : v_(std::move(bytes)) {}

  bool IsNull() const { return v_.index() == 0; }
  bool IsText() const { return std::holds_alternative<std::string>(v_); }
  bool IsInteger() const { return std::holds_alternative<int64_t>(v_); }
  bool IsFloat() const { return std::holds_alternative<double>(v_); }
  bool IsNumber() const { return IsInteger() || IsFloat(); }
  bool IsBool() const { return std::holds_alternative<bool>(v_); }
  bool IsDateTime() const { return std::holds_alternative<DateTime>(v_); }
  bool IsBytes() const { return std::holds_alternative<Bytes>(v_); }

  const std::string& Text() const { return std::get<std::string>(v_); }
  int64_t Integer() const { return std::get<int64_t>(v_); }
  double Float() const { return std::get<double>(v_); }
  bool Bool() const { return std::get<bool>(v_); }
  const DateTime& AsDateTimeValue() const { return std::get<DateTime>(v_); }
  const std::string& BytesData() const { return std::get<Bytes>(v_).data; }

  // Numbers: integers exactly, floats as double. Text is parsed with '.'
  // or the locale's decimal separator; anything unreadable gives 0.
  double ToNumber() const;
  // How the system writes the value as text: integers in decimal, floats in
  // their shortest form with the locale's decimal separator, date-times in
  // the locale's default form (short date, blank, long time; no time at
  // midnight), booleans "True"/"False", bytes as they are, null empty.
  std::string ToText(const FormatSettings& fs) const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, std::string, double, int64_t, bool, DateTime, Bytes> v_;
};

// Converts `v` to the declared type where that is possible (text "12" to
// Integer, Integer to Float, ...); leaves it unchanged otherwise.
Value CoerceTo(const Value& v, DataType type);

}  // namespace tarvo::report
