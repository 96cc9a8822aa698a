// Text measurement shared by the layout and the painters: fonts without
// hinting measured on a fixed 720 dpi device, so that the lines laid out
// here are exactly the lines every exporter draws.
#pragma once

#include <QFont>

#include <string>
#include <vector>

#include "report/engine/Prepared.h"

namespace tarvo::report {

QFont MakeFont(const TextFont& font);

struct TextLine {
  std::string text;
  double width = 0;   // mm
  double height = 0;  // mm, line spacing
  double ascent = 0;  // mm
};

// Breaks `text` into lines no wider than `widthMm` (word wrap; a word longer
// than the width is broken anywhere). Without wrapping only line breaks in
// the text (LF, CR LF or CR) end lines. An empty text gives no lines.
std::vector<TextLine> LayoutText(const std::string& text, const TextFont& font, double widthMm,
                                 bool wordWrap);

// Height of one line of the font, mm.
double LineHeight(const TextFont& font);

// Makes sure a Qt GUI application object exists (fonts need one); creates an
// offscreen one when the process has none. Call from the main thread.
void EnsureGuiApplication();

}  // namespace tarvo::report
