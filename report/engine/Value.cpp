#include "report/engine/Value.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "common/TextUtil.h"

namespace tarvo::report {

namespace {
}  // namespace

DataType ParseDataType(const std::string& name) {
  const std::string u = AsciiUpper(name);
  if (u.empty() || u == "STRING" || u == "TEXT") return DataType::String;
  if (u == "INTEGER" || u == "INT") return DataType::Integer;
  if (u == "FLOAT" || u == "NUMBER" || u == "DOUBLE") return DataType::Float;
  if (u == "DATETIME" || u == "DATE" || u == "TIMESTAMP") return DataType::DateTime;
  if (u == "BLOB") return DataType::Blob;
  throw std::runtime_error("Unbekannter Datentyp \"" + name + "\"");
}

const char* DataTypeName(DataType type) {
  switch (type) {
    case DataType::String: return "string";
    case DataType::Integer: return "integer";
    case DataType::Float: return "float";
    case DataType::DateTime: return "datetime";
    case DataType::Blob: return "blob";
  }
  return "string";
}

double Value::ToNumber() const {
  if (IsInteger()) return static_cast<double>(Integer());
  if (IsFloat()) return Float();
  if (IsBool()) return Bool() ? 1 : 0;
  if (IsText()) {
    std::string t = Text();
    for (auto& c : t)
      if (c == ',') c = '.';
    char* end = nullptr;
    double d = std::strtod(t.c_str(), &end);
    return end == t.c_str() ? 0.0 : d;
  }
  return 0.0;
}

std::string Value::ToText(const FormatSettings& fs) const {
  if (IsNull()) return {};
  if (IsText()) return Text();
  if (IsInteger()) return std::to_string(Integer());
  if (IsBool()) return Bool() ? "True" : "False";
  if (IsBytes()) return BytesData();
  if (IsDateTime()) return fs.FormatDefault(AsDateTimeValue());
  // Shortest form of up to 15 significant digits.
  char buf[64];
  double d = Float();
  if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", d);
  } else {
    std::snprintf(buf, sizeof buf, "%.15g", d);
  }
  std::string s = buf;
  for (auto& c : s)
    if (c == '.') c = fs.DecimalSeparator;
  return s;
}

Value CoerceTo(const Value& v, DataType type) {
  if (v.IsNull()) return v;
  switch (type) {
    case DataType::String:
      return v;
    case DataType::Integer:
      if (v.IsFloat()) return Value(static_cast<int64_t>(std::llround(v.Float())));
      if (v.IsText()) {
        int64_t n = 0;
        const std::string& t = v.Text();
        auto r = std::from_chars(t.data(), t.data() + t.size(), n);
        if (r.ec == std::errc() && r.ptr == t.data() + t.size()) return Value(n);
      }
      return v;
    case DataType::Float:
      if (v.IsInteger()) return Value(static_cast<double>(v.Integer()));
      if (v.IsText()) return Value(v.ToNumber());
      return v;
    case DataType::DateTime:
    case DataType::Blob:
      return v;
  }
  return v;
}

}  // namespace tarvo::report
