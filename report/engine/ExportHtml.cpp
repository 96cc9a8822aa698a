#include "report/engine/ExportHtml.h"

#include <QByteArray>
#include <QColor>
#include <QString>

#include <cmath>
#include <cstdio>
#include <map>

#include "report/engine/PagePainter.h"

namespace tarvo::report {

namespace {

std::string Px(double mm) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2fpx", mm * 96.0 / 25.4);
  return buf;
}

std::string Pt(double size) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1fpt", size);
  return buf;
}

std::string Css(const std::string& c) {
  QColor q(QString::fromStdString(c));
  return (q.isValid() ? q : QColor(Qt::black)).name().toStdString();
}

std::string Escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 32 || c == '\t') out += c;
    }
  }
  return out;
}

std::string Base64Png(const QImage& image) {
  return QByteArray::fromStdString(EncodePng(image)).toBase64().toStdString();
}

std::string FontCss(const TextFont& f, const std::string& color) {
  std::string s = "font-family:'" + Escape(f.family) + "';font-size:" + Pt(f.size) + ";color:" + Css(color);
  if (f.bold) s += ";font-weight:bold";
  if (f.italic) s += ";font-style:italic";
  if (f.underline) s += ";text-decoration:underline";
  return s;
}

std::string Position(const PreparedItem& it) {
  return "left:" + Px(it.x) + ";top:" + Px(it.y) + ";width:" + Px(it.w) + ";height:" + Px(it.h);
}

std::string Border(const char* side, const PreparedItem& it) {
  return std::string(";border-") + side + ":" + Px(std::max(it.lineWidth, 0.1)) + " solid " + Css(it.lineColor);
}

// A box as the style of an absolutely positioned element; its frame is
// drawn inside the box.
std::string BoxCss(const PreparedItem& it) {
  std::string s = Position(it) + ";box-sizing:border-box";
  if (!it.fill.empty()) s += ";background-color:" + Css(it.fill);
  if (it.frameLeft) s += Border("left", it);
  if (it.frameTop) s += Border("top", it);
  if (it.frameRight) s += Border("right", it);
  if (it.frameBottom) s += Border("bottom", it);
  return s;
}

// A line: horizontal and vertical ones as borders, others as SVG.
std::string LineElement(const PreparedItem& it, const char* cls) {
  const std::string width = Px(std::max(it.lineWidth, 0.1));
  const std::string klass = std::string(" class=\"") + cls + "\"";
  if (std::fabs(it.h) < 1e-6 || std::fabs(it.w) < 1e-6) {
    const double x = std::min(it.x, it.x + it.w), y = std::min(it.y, it.y + it.h);
    const bool horizontal = std::fabs(it.h) < 1e-6;
    return "<div" + klass + " style=\"left:" + Px(x) + ";top:" + Px(y) + ";width:" +
           (horizontal ? Px(std::fabs(it.w)) : "0") + ";height:" + (horizontal ? "0" : Px(std::fabs(it.h))) +
           ";border-" + (horizontal ? "top" : "left") + ":" + width + " solid " + Css(it.lineColor) +
           "\"></div>\n";
  }
  const double x = std::min(it.x, it.x + it.w), y = std::min(it.y, it.y + it.h);
  const double w = std::fabs(it.w), h = std::fabs(it.h);
  const std::string x1 = Px(it.x - x), y1 = Px(it.y - y), x2 = Px(it.x + it.w - x), y2 = Px(it.y + it.h - y);
  auto num = [](std::string s) { return s.substr(0, s.size() - 2); };
  return "<svg" + klass + " style=\"left:" + Px(x) + ";top:" + Px(y) + ";overflow:visible\" width=\"" + num(Px(w)) +
         "\" height=\"" + num(Px(h)) + "\"><line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) +
         "\" y2=\"" + num(y2) + "\" stroke=\"" + Css(it.lineColor) + "\" stroke-width=\"" + num(width) +
         "\"/></svg>\n";
}

const std::vector<PreparedPage>& PagesOf(const PreparedReport& r) {
  static const std::vector<PreparedPage> empty(1);
  return r.pages.empty() ? empty : r.pages;
}

}  // namespace

std::string HtmlExporter::Render(const PreparedReport& report, const DocumentInfo& info) {
  std::string out =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" \"http://www.w3.org/TR/html4/loose.dtd\">\n"
      "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
      "<meta name=\"generator\" content=\"" + Escape(info.creator) + "\">\n"
      "<title>" + Escape(info.title) + "</title>\n"
      "<style type=\"text/css\">\n"
      "body{margin:0;padding:0}\n"
      "div.page{position:relative;overflow:hidden;margin:0 0 8px 0}\n"
      "div.page *{position:absolute;margin:0;padding:0}\n"
      "div.t{white-space:pre}\n"
      "</style>\n</head>\n<body>\n";
  for (const auto& page : PagesOf(report)) {
    out += "<div class=\"page\" style=\"width:" + Px(page.width) + ";height:" + Px(page.height) + "\">\n";
    for (const auto& it : page.items) {
      switch (it.kind) {
        case PreparedItem::Kind::TextRun:
          out += "<div class=\"t\" style=\"" + Position(it) + ";line-height:" + Px(it.h) + ";" +
                 FontCss(it.font, it.color) + "\">" + Escape(it.text) + "</div>\n";
          break;
        case PreparedItem::Kind::Box:
          out += "<div style=\"" + BoxCss(it) + "\"></div>\n";
          break;
        case PreparedItem::Kind::Line:
          out += LineElement(it, "l");
          break;
        case PreparedItem::Kind::Image:
          if (it.image.isNull()) break;
          out += "<img style=\"" + Position(it) + "\" alt=\"\" src=\"data:image/png;base64," + Base64Png(it.image) +
                 "\">\n";
          break;
      }
    }
    out += "</div>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

void HtmlExporter::Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) {
  WriteFileAtomically(path, Render(report, info));
}

std::string Html5DivExporter::Render(const PreparedReport& report, const DocumentInfo& info) {
  std::map<std::string, std::string> textClasses;   // font css -> class
  std::map<std::string, std::string> pictureClasses;  // base64 png -> class
  std::string css =
      "body{margin:0;padding:0}\n"
      ".page{position:relative;overflow:hidden;margin:0 0 8px 0;background:#fff}\n"
      ".page>*{position:absolute;margin:0;padding:0}\n"
      ".t{white-space:pre}\n"
      ".p{background-size:100% 100%;background-repeat:no-repeat}\n";
  std::string body;
  int number = 0;
  for (const auto& page : PagesOf(report)) {
    ++number;
    body += "<div class=\"page\" id=\"page" + std::to_string(number) + "\" style=\"width:" + Px(page.width) +
            ";height:" + Px(page.height) + "\">\n";
    for (const auto& it : page.items) {
      switch (it.kind) {
        case PreparedItem::Kind::TextRun: {
          const std::string font = FontCss(it.font, it.color);
          auto [c, added] = textClasses.emplace(font, "s" + std::to_string(textClasses.size()));
          if (added) css += "." + c->second + "{" + font + "}\n";
          body += "<div class=\"t " + c->second + "\" style=\"" + Position(it) + ";line-height:" + Px(it.h) + "\">" +
                  Escape(it.text) + "</div>\n";
          break;
        }
        case PreparedItem::Kind::Box:
          body += "<div style=\"" + BoxCss(it) + "\"></div>\n";
          break;
        case PreparedItem::Kind::Line:
          body += LineElement(it, "l");
          break;
        case PreparedItem::Kind::Image: {
          if (it.image.isNull()) break;
          const std::string data = Base64Png(it.image);
          auto [c, added] = pictureClasses.emplace(data, "i" + std::to_string(pictureClasses.size()));
          if (added) css += "." + c->second + "{background-image:url(data:image/png;base64," + data + ")}\n";
          body += "<div class=\"p " + c->second + "\" role=\"img\" style=\"" + Position(it) + "\"></div>\n";
          break;
        }
      }
    }
    body += "</div>\n";
  }
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"generator\" content=\"" +
         Escape(info.creator) + "\">\n<title>" + Escape(info.title) + "</title>\n<style>\n" + css +
         "</style>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

void Html5DivExporter::Export(const PreparedReport& report, const std::string& path, const DocumentInfo& info) {
  WriteFileAtomically(path, Render(report, info));
}

}  // namespace tarvo::report
