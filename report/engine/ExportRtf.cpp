#include "report/engine/ExportRtf.h"

#include <QColor>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "common/Codepage.h"
#include "report/engine/PagePainter.h"

namespace tarvo::report {

namespace {

long Twips(double mm) { return std::lround(mm * 1440.0 / 25.4); }

QColor Color(const std::string& c) {
  QColor q(QString::fromStdString(c));
  return q.isValid() ? q : QColor(Qt::black);
}

// RTF text: ASCII as it is (\, { and } escaped), the other characters of
// Windows-1252 as \'hh, everything else as \uN with "?" for readers
// without Unicode.
std::string Escape(const std::string& utf8) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  const QString s = QString::fromStdString(utf8);
  for (QChar ch : s) {
    const ushort u = ch.unicode();
    if (u == '\\' || u == '{' || u == '}') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (u == '\t') {
      out += "\\tab ";
    } else if (u < 32) {
      continue;
    } else if (u < 128) {
      out += static_cast<char>(u);
    } else {
      const std::string ansi = ch.isSurrogate() ? std::string() : Utf8ToCp1252(QString(ch).toStdString());
      if (ansi.size() == 1 && static_cast<unsigned char>(ansi[0]) >= 0x80) {
        out += "\\'";
        out += digits[static_cast<unsigned char>(ansi[0]) >> 4];
        out += digits[static_cast<unsigned char>(ansi[0]) & 15];
      } else {
        out += "\\u" + std::to_string(static_cast<short>(u)) + "?";
      }
    }
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2 + bytes.size() / 64 + 1);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
    if (i % 64 == 63) out += '\n';
  }
  return out;
}

class Tables {
 public:
  int Font(const std::string& family) {
    auto [it, added] = fonts_.emplace(family, static_cast<int>(fonts_.size()));
    if (added) fontOrder_.push_back(family);
    return it->second;
  }
  int ColorIndex(const std::string& c) {
    const QColor q = Color(c);
    const std::string key = q.name().toStdString();
    auto [it, added] = colors_.emplace(key, static_cast<int>(colors_.size()) + 1);
    if (added) colorOrder_.push_back(q);
    return it->second;
  }
  std::string Header() const {
    std::string out = "{\\fonttbl";
    for (size_t i = 0; i < fontOrder_.size(); ++i)
      out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 " + Escape(fontOrder_[i]) + ";}";
    out += "}\n{\\colortbl;";
    for (const QColor& q : colorOrder_)
      out += "\\red" + std::to_string(q.red()) + "\\green" + std::to_string(q.green()) + "\\blue" +
             std::to_string(q.blue()) + ";";
    return out + "}\n";
  }

 private:
  std::map<std::string, int> fonts_;
  std::vector<std::string> fontOrder_;
  std::map<std::string, int> colors_;
  std::vector<QColor> colorOrder_;
};

// Shape colour: 0x00BBGGRR.
long ShapeColor(const std::string& c) {
  const QColor q = Color(c);
  return q.red() + q.green() * 256L + q.blue() * 65536L;
}

std::string Prop(const char* name, const std::string& value) {
  return std::string("{\\sp{\\sn ") + name + "}{\\sv " + value + "}}";
}

std::string Shape(double x, double y, double w, double h, int type, const std::string& props, int z) {
  return "{\\shp{\\*\\shpinst\\shpleft" + std::to_string(Twips(x)) + "\\shptop" + std::to_string(Twips(y)) +
         "\\shpright" + std::to_string(Twips(x + w)) + "\\shpbottom" + std::to_string(Twips(y + h)) +
         "\\shpfhdr0\\shpbxpage\\shpbxignore\\shpbypage\\shpbyignore\\shpwr3\\shpwrk0\\shpfblwtxt1\\shpz" +
         std::to_string(z) + Prop("shapeType", std::to_string(type)) + props + "}}";
}

std::string LineProps(const std::string& color, double widthMm) {
  const long emu = std::lround(widthMm / 25.4 * 72 * 12700);
  return Prop("fLine", "1") + Prop("lineColor", std::to_string(ShapeColor(color))) +
         Prop("lineWidth", std::to_string(std::max(1L, emu)));
}

std::string Frame(double x, double y, double w, double h) {
  return "\\pard\\plain\\pvpg\\phpg\\posx" + std::to_string(Twips(x)) + "\\posy" + std::to_string(Twips(y)) +
         "\\absw" + std::to_string(std::max(1L, Twips(w))) + "\\absh" + std::to_string(std::max(1L, Twips(h))) +
         "\\dxfrtext0\\dfrmtxtx0\\dfrmtxty0\\ql";
}

}  // namespace

std::string RtfExporter::Render(const PreparedReport& report, const DocumentInfo& info) {
  Tables tables;
  tables.ColorIndex("#000000");
  tables.Font("DejaVu Sans");
  std::vector<PreparedPage> empty(1);
  const auto& pages = report.pages.empty() ? empty : report.pages;
  std::string body;
  int z = 0;
  for (size_t pi = 0; pi < pages.size(); ++pi) {
    const PreparedPage& page = pages[pi];
    if (pi > 0) body += "\\sect";
    body += "\\sectd\\sbkpage\\pgwsxn" + std::to_string(Twips(page.width)) + "\\pghsxn" +
            std::to_string(Twips(page.height)) + "\\marglsxn0\\margrsxn0\\margtsxn0\\margbsxn0\n";
    std::string shapes;
    for (const auto& it : page.items) {
      switch (it.kind) {
        case PreparedItem::Kind::TextRun: {
          const double slack = std::max(2.0, it.w * 0.15);
          const double width = std::max(it.w, std::min(it.w + slack, page.width - it.x));
          const int f = tables.Font(it.font.family);
          const int cf = tables.ColorIndex(it.color);
          body += "{" + Frame(it.x, it.y, width, it.h) + "\\sl-" + std::to_string(Twips(it.h)) + "\\slmult0\\f" +
                  std::to_string(f) + "\\fs" + std::to_string(std::lround(it.font.size * 2)) + "\\cf" +
                  std::to_string(cf) + (it.font.bold ? "\\b" : "") + (it.font.italic ? "\\i" : "") +
                  (it.font.underline ? "\\ul" : "") + " " + Escape(it.text) + "\\par}\n";
          break;
        }
        case PreparedItem::Kind::Image: {
          if (it.image.isNull()) break;
          const std::string png = EncodePng(it.image);
          body += "{" + Frame(it.x, it.y, it.w, it.h) + "\\sl0{\\pict\\pngblip\\picw" +
                  std::to_string(it.image.width()) + "\\pich" + std::to_string(it.image.height()) + "\\picwgoal" +
                  std::to_string(Twips(it.w)) + "\\pichgoal" + std::to_string(Twips(it.h)) + "\n" + Hex(png) +
                  "}\\par}\n";
          break;
        }
        case PreparedItem::Kind::Box: {
          if (!it.fill.empty()) {
            const long c = ShapeColor(it.fill);
            shapes += Shape(it.x, it.y, it.w, it.h, 1,
                            Prop("fFilled", "1") + Prop("fillColor", std::to_string(c)) + Prop("fLine", "0"), z++);
          }
          const std::pair<bool, std::array<double, 4>> sides[] = {
              {it.frameTop, {it.x, it.y, it.w, 0}},
              {it.frameBottom, {it.x, it.y + it.h, it.w, 0}},
              {it.frameLeft, {it.x, it.y, 0, it.h}},
              {it.frameRight, {it.x + it.w, it.y, 0, it.h}}};
          for (const auto& [on, r] : sides)
            if (on) shapes += Shape(r[0], r[1], r[2], r[3], 20, LineProps(it.lineColor, it.lineWidth), z++);
          break;
        }
        case PreparedItem::Kind::Line: {
          const double x = std::min(it.x, it.x + it.w), y = std::min(it.y, it.y + it.h);
          std::string props = LineProps(it.lineColor, it.lineWidth);
          if ((it.w < 0) != (it.h < 0) && it.w != 0 && it.h != 0) props += Prop("fFlipV", "1");
          shapes += Shape(x, y, std::fabs(it.w), std::fabs(it.h), 20, props, z++);
          break;
        }
      }
    }
    // The page's shapes hang on one small paragraph at its top.
    body += "\\pard\\plain\\fs2 " + shapes + "\\par\n";
  }

  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n";
  out += tables.Header();
  out += "{\\*\\generator " + Escape(info.creator.empty() ? "FastReport" : info.creator) + ";}\n";
  out += "{\\info{\\title " + Escape(info.title) + "}}\n";
  out += "\\paperw" + std::to_string(Twips(pages.front().width)) + "\\paperh" +
         std::to_string(Twips(pages.front().height)) + "\\margl0\\margr0\\margt0\\margb0\\viewkind1\n";
  out += body;
  out += "}\n";
  return out;
}

void RtfExporter::Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) {
  WriteFileAtomically(path, Render(report, info));
}

}  // namespace tarvo::report
