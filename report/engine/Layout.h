// The report engine: runs a template's data sets, scripts and bands and
// lays the bands out on pages, giving a PreparedReport.
//
// Order of a preparation: OnBeginDoc; report variables into the script;
// data sets not bound to a detail band are opened in template order; the
// report script runs; then each report page of the template is laid out
// (see docs/report-templates.md). Texts that use TOTALPAGES are evaluated
// after the last page.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/FormatSettings.h"
#include "report/engine/Prepared.h"
#include "report/engine/Script.h"
#include "report/engine/Template.h"

namespace tarvo::report {

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
};

struct BoundParam {
  std::string name;
  DataType type = DataType::String;
  Value value;  // null: SQL NULL
};

// Where data sets get their rows. Raises with the database's message.
class IDataProvider {
 public:
  virtual ~IDataProvider() = default;
  virtual Table Query(const std::string& sql, const std::vector<BoundParam>& params) = 0;
};

class Cursor;

class ReportEngine {
 public:
  // `report`, `data` and `functions` (may be null) must outlive the engine.
  ReportEngine(ReportDef& report, IDataProvider& data, const FormatSettings& fs,
               const FunctionRegistry* functions);
  ~ReportEngine();

  // Run at the start of Prepare, before anything else.
  std::function<void()> OnBeginDoc;

  // Prepares the report, replacing earlier prepared pages. Returns false
  // when a script cancelled (Cancel()); raises EScriptError, ETemplateError
  // or the data provider's errors otherwise.
  bool Prepare();
  const PreparedReport& Prepared() const { return prepared_; }
  ScriptEngine& Script() { return *script_; }

  // For script functions: the engine whose Prepare runs on this thread
  // (null when none), its template, its data sets by name (letter case
  // ignored; null when there is none) and the replacement of the picture
  // that object `objectName` placed in the band being laid out (false when
  // that band placed none).
  static ReportEngine* Active();
  ReportDef& Report() { return report_; }
  Cursor* DataSet(const std::string& name);
  bool ReplacePicture(const std::string& objectName, const QImage& image);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  ReportDef& report_;
  IDataProvider& data_;
  const FormatSettings& fs_;
  const FunctionRegistry* functions_;
  std::unique_ptr<ScriptEngine> script_;
  PreparedReport prepared_;
};

// Cursor over a table; the data set globals read its current row.
class Cursor : public IFieldSource {
 public:
  void Reset(Table table);
  Value Field(const std::string& upperName) const override;
  bool Eof() const override { return pos_ >= table_.rows.size(); }
  int RecNo() const override { return table_.rows.empty() ? 0 : static_cast<int>(pos_) + 1; }
  size_t Count() const { return table_.rows.size(); }
  void Go(size_t pos) { pos_ = pos; }
  size_t Pos() const { return pos_; }
  const Table& Data() const { return table_; }
  int ColumnIndex(const std::string& upperName) const;
  std::string name;

 private:
  Table table_;
  size_t pos_ = 0;
  std::map<std::string, int> columns_;
};

}  // namespace tarvo::report
