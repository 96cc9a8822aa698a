#include "report/engine/ExportJpeg.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "report/engine/PagePainter.h"

namespace tarvo::report {

namespace {
constexpr int kMaxJpegSide = 65500;
}

std::string JpegExporter::Render(const PreparedReport& report, double dpi, int quality) {
  std::vector<PreparedPage> empty(1);
  const auto& pages = report.pages.empty() ? empty : report.pages;
  auto extent = [&](double d) {
    QSize s(0, 0);
    for (const auto& p : pages) {
      const QSize ps = PagePixelSize(p, d);
      s.setWidth(std::max(s.width(), ps.width()));
      s.setHeight(s.height() + ps.height());
    }
    return s;
  };
  QSize size = extent(dpi);
  if (size.height() > kMaxJpegSide || size.width() > kMaxJpegSide) {
    dpi *= static_cast<double>(kMaxJpegSide) / std::max(size.height(), size.width());
    size = extent(dpi);
  }
  QImage image(size, QImage::Format_RGB32);
  if (image.isNull()) throw EExportError("JPEG-Ausgabe: kein Speicher f\xC3\xBCr das Bild");
  image.fill(Qt::white);
  // Fonts are sized for the measuring device; the painter scales down.
  const int paintDpm = static_cast<int>(std::lround(kPaintDpi / 0.0254));
  image.setDotsPerMeterX(paintDpm);
  image.setDotsPerMeterY(paintDpm);
  {
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    int top = 0;
    for (const auto& page : pages) {
      painter.save();
      painter.translate(0, top);
      painter.scale(dpi / kPaintDpi, dpi / kPaintDpi);
      PaintPage(painter, page);
      painter.restore();
      top += PagePixelSize(page, dpi).height();
    }
  }
  const int dpm = static_cast<int>(std::lround(dpi / 0.0254));
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(quality);
  if (!writer.write(image)) throw EExportError("JPEG-Ausgabe: " + writer.errorString().toStdString());
  return bytes.toStdString();
}

void JpegExporter::Export(const PreparedReport& report, const std::string& path, const DocumentInfo&) {
  WriteFileAtomically(path, Render(report));
}

}  // namespace tarvo::report
