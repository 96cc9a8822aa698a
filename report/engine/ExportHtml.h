// HTML exports of the prepared pages; both write one self-contained file.
//
// HTML (HtmlExporter): an HTML 4.01 document, pages one below the other at
// their fixed width in pixels (96 per inch), left-aligned, without page
// background, navigation, outline or print button. Every item is an
// absolutely positioned element of its page; pictures are PNG, embedded as
// data: addresses so that the single output file is complete.
//
// HTM (Html5DivExporter): an HTML5 document with div layout, all pages in
// one single page, the CSS embedded in <style> (one class per text style),
// pictures as PNG embedded in the CSS once per distinct picture, no
// navigation or outline, each page an anchor "pageN".
#pragma once

#include <string>

#include "report/engine/Export.h"

namespace tarvo::report {

class HtmlExporter : public IExporter {
 public:
  void Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) override;
  static std::string Render(const PreparedReport& report, const DocumentInfo& info);
};

class Html5DivExporter : public IExporter {
 public:
  void Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) override;
  static std::string Render(const PreparedReport& report, const DocumentInfo& info);
};

}  // namespace tarvo::report
