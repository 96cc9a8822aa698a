// Paints prepared pages with QPainter for the raster and picture-based
// exports: one page onto a painter whose device units are pixels at the
// 720 dpi the layout measured with, or a page as an image at any dpi.
#pragma once

#include <QImage>
#include <QPainter>

#include <string>

#include "report/engine/Prepared.h"

namespace tarvo::report {

// Device pixels per inch of PaintPage's coordinates (the measuring device).
inline constexpr double kPaintDpi = 720;

// Draws every item of `page` in drawing order; the painter's coordinates
// must be pixels at kPaintDpi (scale the painter for other resolutions).
void PaintPage(QPainter& painter, const PreparedPage& page);

// A page's size in pixels at `dpi`, rounded to whole pixels.
QSize PagePixelSize(const PreparedPage& page, double dpi);

// The image bytes in PNG.
std::string EncodePng(const QImage& image);

}  // namespace tarvo::report
