#pragma once
// The anchoring drawn over a page's picture with the UI toolkit's painter. One source, built
// against each toolkit a host runs (Qt 6 for the standalone programs, Qt 5 inside QGIS), so
// every host's pictures show the anchoring alike.

#include "book/Outline.h"

#include <vector>

class QPainter;

namespace crv::drawing {

// Paints each outline on a picture of `pixelsPerUnit` pixels a page unit of a page
// `pageHeight` units high.
void PaintOutlines(QPainter& painter, const std::vector<book::Outline>& outlines, double pixelsPerUnit,
                   double pageHeight);

}  // namespace crv::drawing
