#include "report/engine/PdfExport.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPen>

#include <cstdio>
#include <regex>

#include "report/engine/TextMeasure.h"

namespace tarvo::report {

namespace {

constexpr int kResolution = 720;  // device pixels per inch, as the measuring device

double Px(double mm) { return mm * kResolution / 25.4; }

QColor Color(const std::string& c) {
  QColor q(QString::fromStdString(c));
  return q.isValid() ? q : QColor(Qt::black);
}

// A PDF text string: UTF-16BE with byte-order mark, in hex.
std::string PdfText(const std::string& utf8) {
  QString s = QString::fromStdString(utf8);
  std::string out = "<FEFF";
  char buf[8];
  for (QChar ch : s) {
    std::snprintf(buf, sizeof buf, "%04X", ch.unicode());
    out += buf;
  }
  return out + ">";
}

void DrawPage(QPainter& p, const PreparedPage& page) {
  for (const auto& it : page.items) {
    switch (it.kind) {
      case PreparedItem::Kind::Box: {
        QRectF r(Px(it.x), Px(it.y), Px(it.w), Px(it.h));
        if (!it.fill.empty()) p.fillRect(r, Color(it.fill));
        QPen pen(Color(it.lineColor));
        pen.setWidthF(Px(it.lineWidth));
        pen.setCapStyle(Qt::SquareCap);
        p.setPen(pen);
        if (it.frameTop) p.drawLine(r.topLeft(), r.topRight());
        if (it.frameBottom) p.drawLine(r.bottomLeft(), r.bottomRight());
        if (it.frameLeft) p.drawLine(r.topLeft(), r.bottomLeft());
        if (it.frameRight) p.drawLine(r.topRight(), r.bottomRight());
        break;
      }
      case PreparedItem::Kind::Line: {
        QPen pen(Color(it.lineColor));
        pen.setWidthF(Px(it.lineWidth));
        p.setPen(pen);
        p.drawLine(QPointF(Px(it.x), Px(it.y)), QPointF(Px(it.x + it.w), Px(it.y + it.h)));
        break;
      }
      case PreparedItem::Kind::Image:
        if (!it.image.isNull()) p.drawImage(QRectF(Px(it.x), Px(it.y), Px(it.w), Px(it.h)), it.image);
        break;
      case PreparedItem::Kind::TextRun: {
        p.setFont(MakeFont(it.font));
        p.setPen(Color(it.color));
        p.drawText(QPointF(Px(it.x), Px(it.y + it.baseline)), QString::fromStdString(it.text));
        break;
      }
    }
  }
}

}  // namespace

std::string AddInfoEntries(const std::string& pdf, const std::string& author,
                           const std::string& subject) {
  // The trailer names the Info object; find "N 0 obj" of it.
  std::smatch m;
  static const std::regex infoRef(R"(/Info\s+(\d+)\s+0\s+R)");
  const size_t trailerPos = pdf.rfind("trailer");
  const size_t xrefPos = pdf.rfind("\nxref");
  if (trailerPos == std::string::npos || xrefPos == std::string::npos) return pdf;
  std::string trailer = pdf.substr(trailerPos);
  if (!std::regex_search(trailer, m, infoRef)) return pdf;
  const std::string objHead = "\n" + m[1].str() + " 0 obj";
  const size_t objPos = pdf.find(objHead);
  if (objPos == std::string::npos) return pdf;
  const size_t dictOpen = pdf.find("<<", objPos);
  if (dictOpen == std::string::npos || dictOpen > xrefPos) return pdf;
  const std::string insert = "\n/Author " + PdfText(author) + "\n/Subject " + PdfText(subject);
  const size_t at = dictOpen + 2;
  const size_t shift = insert.size();

  std::string out = pdf.substr(0, at) + insert + pdf.substr(at, xrefPos + 1 - at);
  // Rewrite the cross-reference table: offsets after the insertion move.
  size_t pos = xrefPos + 1;
  const size_t end = pdf.find("trailer", pos);
  std::string table = pdf.substr(pos, end - pos);
  std::string fixed;
  size_t lineStart = 0;
  while (lineStart < table.size()) {
    size_t nl = table.find('\n', lineStart);
    if (nl == std::string::npos) nl = table.size() - 1;
    std::string line = table.substr(lineStart, nl - lineStart + 1);
    if (line.size() >= 18 && line[10] == ' ' && line[16] == ' ' && line[17] == 'n') {
      unsigned long long off = std::stoull(line.substr(0, 10));
      if (off >= at) off += shift;
      char buf[16];
      std::snprintf(buf, sizeof buf, "%010llu", off);
      line.replace(0, 10, buf);
    }
    fixed += line;
    lineStart = nl + 1;
  }
  out += fixed;
  std::string tail = pdf.substr(end);
  static const std::regex startxref(R"(startxref\s+(\d+))");
  if (std::regex_search(tail, m, startxref)) {
    const std::string replaced = "startxref\n" + std::to_string(std::stoull(m[1].str()) + shift);
    tail = m.prefix().str() + replaced + m.suffix().str();
  }
  return out + tail;
}

std::string PdfExporter::Render(const PreparedReport& report, const DocumentInfo& info) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setPdfVersion(QPagedPaintDevice::PdfVersion_1_6);
    writer.setResolution(kResolution);
    writer.setCreator(QString::fromStdString(info.creator));
    writer.setTitle(QString::fromStdString(info.title));
    auto layoutFor = [](const PreparedPage& pg) {
      return QPageLayout(QPageSize(QSizeF(pg.width, pg.height), QPageSize::Millimeter),
                         QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    };
    std::vector<PreparedPage> empty(1);
    const auto& pages = report.pages.empty() ? empty : report.pages;
    writer.setPageLayout(layoutFor(pages.front()));
    QPainter painter;
    if (!painter.begin(&writer)) throw EExportError("PDF-Ausgabe kann nicht begonnen werden");
    for (size_t i = 0; i < pages.size(); ++i) {
      if (i > 0) {
        writer.setPageLayout(layoutFor(pages[i]));
        writer.newPage();
      }
      DrawPage(painter, pages[i]);
    }
    painter.end();
  }
  return AddInfoEntries(buffer.data().toStdString(), info.author, info.subject);
}

void PdfExporter::Export(const PreparedReport& report, const std::string& path,
                         const DocumentInfo& info) {
  WriteFileAtomically(path, Render(report, info));
}

}  // namespace tarvo::report
