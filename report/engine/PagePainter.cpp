#include "report/engine/PagePainter.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QPen>

#include <cmath>

#include "report/engine/TextMeasure.h"

namespace tarvo::report {

namespace {

double Px(double mm) { return mm * kPaintDpi / 25.4; }

QColor Color(const std::string& c) {
  QColor q(QString::fromStdString(c));
  return q.isValid() ? q : QColor(Qt::black);
}

}  // namespace

void PaintPage(QPainter& p, const PreparedPage& page) {
  for (const auto& it : page.items) {
    switch (it.kind) {
      case PreparedItem::Kind::Box: {
        const QRectF r(Px(it.x), Px(it.y), Px(it.w), Px(it.h));
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
      case PreparedItem::Kind::TextRun:
        p.setFont(MakeFont(it.font));
        p.setPen(Color(it.color));
        p.drawText(QPointF(Px(it.x), Px(it.y + it.baseline)), QString::fromStdString(it.text));
        break;
    }
  }
}

QSize PagePixelSize(const PreparedPage& page, double dpi) {
  return QSize(static_cast<int>(std::lround(page.width * dpi / 25.4)),
               static_cast<int>(std::lround(page.height * dpi / 25.4)));
}

std::string EncodePng(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

}  // namespace tarvo::report
