#include "report/engine/TextMeasure.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QTextLayout>

#include <cstdlib>
#include <map>
#include <memory>

namespace tarvo::report {

namespace {

constexpr double kDpi = 720;
double Mm(double px) { return px * 25.4 / kDpi; }
double Px(double mm) { return mm * kDpi / 25.4; }

QPaintDevice* Device() {
  static QImage image = [] {
    QImage img(8, 8, QImage::Format_ARGB32);
    const int dpm = static_cast<int>(kDpi / 0.0254 + 0.5);
    img.setDotsPerMeterX(dpm);
    img.setDotsPerMeterY(dpm);
    return img;
  }();
  return &image;
}

QString Normalised(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
  s.replace(QLatin1Char('\r'), QChar::LineSeparator);
  s.replace(QLatin1Char('\n'), QChar::LineSeparator);
  s.replace(QLatin1Char('\t'), QLatin1Char(' '));
  return s;
}

}  // namespace

QFont MakeFont(const TextFont& font) {
  QFont f(QString::fromStdString(font.family));
  f.setPointSizeF(font.size);
  f.setBold(font.bold);
  f.setItalic(font.italic);
  f.setUnderline(font.underline);
  f.setHintingPreference(QFont::PreferNoHinting);
  f.setKerning(true);
  return f;
}

double LineHeight(const TextFont& font) {
  QFontMetricsF fm(MakeFont(font), Device());
  return Mm(fm.height());
}

std::vector<TextLine> LayoutText(const std::string& text, const TextFont& font, double widthMm,
                                 bool wordWrap) {
  std::vector<TextLine> out;
  if (text.empty()) return out;
  const QString s = Normalised(text);
  QTextLayout layout(s, MakeFont(font), Device());
  QTextOption opt;
  opt.setWrapMode(wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  layout.setTextOption(opt);
  layout.beginLayout();
  const double width = wordWrap ? std::max(1.0, Px(widthMm)) : 1e9;
  while (true) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(width);
    QString part = s.mid(line.textStart(), line.textLength());
    while (!part.isEmpty() && (part.back() == QChar::LineSeparator || part.back().isSpace()))
      part.chop(1);
    TextLine tl;
    tl.text = part.toStdString();
    tl.width = Mm(line.naturalTextWidth());
    tl.height = Mm(line.height());
    tl.ascent = Mm(line.ascent());
    if (!part.isEmpty()) {
      QFontMetricsF fm(MakeFont(font), Device());
      tl.width = Mm(fm.horizontalAdvance(part));
    }
    out.push_back(std::move(tl));
  }
  layout.endLayout();
  return out;
}

void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "tarvoreport";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace tarvo::report
