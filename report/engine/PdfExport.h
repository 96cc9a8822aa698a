// PDF through QPdfWriter: fonts embedded as subsets, one PDF page per
// prepared page, the document information of DocumentInfo.
//
// Qt writes PDF 1.4 or 1.6 (1.6 is used: the newest it offers) and cannot
// encrypt, so permission flags are not written: a document without
// encryption allows printing, changing, copying and annotating, which is
// what the worker asks for. Qt has no author or subject field; the exporter
// adds both to the document information dictionary of Qt's output.
#pragma once

#include <string>

#include "report/engine/Export.h"

namespace tarvo::report {

class PdfExporter : public IExporter {
 public:
  void Export(const PreparedReport& report, const std::string& path,
              const DocumentInfo& info) override;
  // The PDF bytes without writing a file.
  static std::string Render(const PreparedReport& report, const DocumentInfo& info);
};

// Adds /Author and /Subject to the Info dictionary of a PDF with a classic
// cross-reference table and rewrites the table's offsets. Returns the input
// unchanged when the layout is not the expected one.
std::string AddInfoEntries(const std::string& pdf, const std::string& author,
                           const std::string& subject);

}  // namespace tarvo::report
