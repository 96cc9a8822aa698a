#include "report/DbDataProvider.h"

namespace tarvo::report {

Table DbDataProvider::Query(const std::string& sql, const std::vector<BoundParam>& params) {
  db::TIBRQuery q(database_);
  q.SetSQL(sql);
  for (const auto& p : params) {
    if (!q.HasParam(p.name)) continue;
    const Value& v = p.value;
    if (v.IsNull()) q.SetParamNull(p.name);
    else if (v.IsDateTime()) q.SetParamDateTime(p.name, v.AsDateTimeValue());
    else if (v.IsInteger()) q.SetParamInteger(p.name, v.Integer());
    else if (v.IsFloat()) q.SetParamDouble(p.name, v.Float());
    else if (v.IsBool()) q.SetParamInteger(p.name, v.Bool() ? 1 : 0);
    else if (v.IsBytes()) q.SetParamBlob(p.name, v.BytesData());
    else q.SetParamText(p.name, v.Text());
  }
  q.Open();
  Table t;
  const int n = q.FieldCount();
  for (int i = 0; i < n; ++i) t.columns.push_back(q.FieldName(i));
  for (; !q.Eof(); q.Next()) {
    std::vector<Value> row;
    row.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      if (q.IsNull(i)) {
        row.emplace_back();
        continue;
      }
      switch (q.Kind(i)) {
        case db::FieldKind::DateTime: row.emplace_back(q.AsDateTime(i)); break;
        case db::FieldKind::Integer: row.emplace_back(static_cast<int64_t>(q.AsInteger(i))); break;
        case db::FieldKind::Float:
        case db::FieldKind::ScaledNumeric: row.emplace_back(q.AsDouble(i)); break;
        case db::FieldKind::BinaryBlob: row.emplace_back(Bytes{q.AsBytes(i)}); break;
        default: row.emplace_back(q.AsText(i)); break;
      }
    }
    t.rows.push_back(std::move(row));
  }
  q.Close();
  return t;
}

}  // namespace tarvo::report
