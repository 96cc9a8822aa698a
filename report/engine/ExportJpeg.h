// JPEG: the prepared pages as one picture, page below page, at 96 dpi and
// quality 90, on white. A report whose pages together are taller than a
// JPEG may be (65,500 pixels, about 58 A4 pages) is drawn at the lower
// resolution that fits.
#pragma once

#include <string>

#include "report/engine/Export.h"

namespace tarvo::report {

class JpegExporter : public IExporter {
 public:
  void Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) override;
  // The JPEG bytes without writing a file.
  static std::string Render(const PreparedReport& report, double dpi = 96, int quality = 90);
};

}  // namespace tarvo::report
