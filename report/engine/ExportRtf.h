// RTF: the prepared pages with their layout kept (WYSIWYG), one section per
// page with the page's size and no margins. Every text line is a frame
// positioned on the page (\posx, \posy, at least its height, a little wider
// than the line so that another font never wraps it), pictures are PNG
// pictures in frames of their size, boxes and lines are drawing shapes
// behind the text. No RTF page header or footer is written: what the page
// header and footer bands printed stays on each page as positioned text.
// The document carries the report's name as title and "FastReport" as
// generator. Text is written as \uN with "?" for readers without Unicode.
#pragma once

#include <string>

#include "report/engine/Export.h"

namespace tarvo::report {

class RtfExporter : public IExporter {
 public:
  void Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) override;
  static std::string Render(const PreparedReport& report, const DocumentInfo& info);
};

}  // namespace tarvo::report
