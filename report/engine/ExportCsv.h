// CSV: one line per visual row of text, fields separated by ";" in Windows-1252.
//
// The text lines of each page are grouped into rows: lines whose vertical
// middles lie within half a line height of each other form one row, read
// from left to right, one field per text line. Pages follow each other.
// Control characters are removed from the fields; a field holding ";" or a
// double quote is quoted (inner quotes doubled), no other is. Lines end
// with CR LF; characters Windows-1252 lacks become "?".
#pragma once

#include <string>
#include <vector>

#include "report/engine/Export.h"

namespace tarvo::report {

class CsvExporter : public IExporter {
 public:
  void Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) override;
  // The rows as UTF-8 fields (before quoting and encoding).
  static std::vector<std::vector<std::string>> Rows(const PreparedReport& report);
  // The file's bytes.
  static std::string Render(const PreparedReport& report);
};

}  // namespace tarvo::report
