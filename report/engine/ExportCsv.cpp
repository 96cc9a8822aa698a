#include "report/engine/ExportCsv.h"

#include <algorithm>
#include <cmath>

#include "common/Codepage.h"

namespace tarvo::report {

namespace {

std::string Field(const std::string& text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 32) clean += c;
  if (clean.find_first_of(";\"") == std::string::npos) return clean;
  std::string quoted = "\"";
  for (char c : clean) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::vector<std::vector<std::string>> CsvExporter::Rows(const PreparedReport& report) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& page : report.pages) {
    std::vector<const PreparedItem*> runs;
    for (const auto& it : page.items)
      if (it.kind == PreparedItem::Kind::TextRun && !it.text.empty()) runs.push_back(&it);
    auto middle = [](const PreparedItem* r) { return r->y + r->h / 2; };
    std::stable_sort(runs.begin(), runs.end(),
                     [&](const PreparedItem* a, const PreparedItem* b) { return middle(a) < middle(b); });
    size_t i = 0;
    while (i < runs.size()) {
      const PreparedItem* anchor = runs[i];
      size_t j = i + 1;
      while (j < runs.size() &&
             middle(runs[j]) - middle(anchor) <= 0.5 * std::min(anchor->h, runs[j]->h))
        ++j;
      std::vector<const PreparedItem*> row(runs.begin() + static_cast<long>(i), runs.begin() + static_cast<long>(j));
      std::stable_sort(row.begin(), row.end(), [](const PreparedItem* a, const PreparedItem* b) { return a->x < b->x; });
      std::vector<std::string> fields;
      for (const PreparedItem* r : row) fields.push_back(r->text);
      rows.push_back(std::move(fields));
      i = j;
    }
  }
  return rows;
}

std::string CsvExporter::Render(const PreparedReport& report) {
  std::string out;
  for (const auto& row : Rows(report)) {
    std::string line;
    for (size_t k = 0; k < row.size(); ++k) {
      if (k) line += ';';
      line += Field(row[k]);
    }
    out += Utf8ToCp1252(line);
    out += "\r\n";
  }
  return out;
}

void CsvExporter::Export(const PreparedReport& report, const std::string& path, const DocumentInfo&) {
  WriteFileAtomically(path, Render(report));
}

}  // namespace tarvo::report
