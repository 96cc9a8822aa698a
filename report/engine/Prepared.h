// The prepared report: finished pages of positioned items, the one model
// every exporter reads. Coordinates in millimetres from the page's top
// left corner; font sizes in points.
#pragma once

#include <QImage>

#include <string>
#include <vector>

namespace tarvo::report {

struct TextFont {
  std::string family = "DejaVu Sans";
  double size = 10;
  bool bold = false, italic = false, underline = false;
};

struct PreparedItem {
  enum class Kind { TextRun, Box, Line, Image };
  Kind kind = Kind::TextRun;
  double x = 0, y = 0, w = 0, h = 0;  // run: the line's box; line: from (x,y) by (w,h)
  // Text run: one laid-out line; `baseline` is the offset from y.
  std::string text;
  TextFont font;
  double baseline = 0;
  std::string color = "#000000";
  // Box: fill and frame sides.
  std::string fill;
  bool frameLeft = false, frameTop = false, frameRight = false, frameBottom = false;
  double lineWidth = 0.2;
  std::string lineColor = "#000000";
  // Image, already decoded.
  QImage image;
};

struct PreparedPage {
  double width = 210, height = 297;
  std::vector<PreparedItem> items;
};

struct PreparedReport {
  std::string name;
  std::vector<PreparedPage> pages;
};

// The plain text of a page's runs in drawing order (tests, text exports).
std::string PageText(const PreparedPage& page);

}  // namespace tarvo::report
