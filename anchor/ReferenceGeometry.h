#pragma once
// Where an element stands and where a reference point lies: the one geometry behind both
// placing an element (the engine) and measuring its present distances (the property page).
//
// Layout coordinates: X grows to the right, Y upward; a distance is the X or Y of the
// element's point minus that of the reference point.

#include "anchor/AnchorRecord.h"
#include "host/HostClasses.h"

#include <array>
#include <cstdint>

namespace crv {

// A rectangle as the host reports it.
struct Extent {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0, width = 0, height = 0;
};

// The envelope's six values, each asked of the host.
Extent ExtentOf(const ComPtr<Envelope>& envelope);

// The page, from (0, 0) to (width, height).
inline Extent PageExtent(double width, double height) { return {0, 0, width, height, width, height}; }

// What a map frame's outline envelope is taken as: the engine places by a copy of it, the
// property page measures the envelope itself (and creates its envelope before it knows the
// element's kind), and the tools that report what was placed measure the envelope itself,
// making an envelope only for an element's bounds.
enum class OutlineEnvelope { Measured, Copied, Reported };

// A map frame is measured by the envelope of its outline, any other element by its bounds,
// both on the given display.
Extent ElementExtent(const ComPtr<LayoutElement>& element, const ComPtr<Display>& display, OutlineEnvelope outline);

struct Point {
    double x = 0, y = 0;
};

// The point of a rectangle that a code names. A code outside 0 to 8 falls to the last row or
// column it does not name; callers that can meet one check it first.
inline Point PointOf(const Extent& r, int32_t code) {
    const int32_t row = PointRow(code);
    const int32_t column = PointColumn(code);
    return {column == 0   ? r.xmin
            : column == 1 ? (r.xmin + r.xmax) / 2.0
                          : r.xmax,
            row == 0   ? r.ymax
            : row == 1 ? (r.ymin + r.ymax) / 2.0
                       : r.ymin};
}

// How far the element `e` has to move so that its own point `from` lands on the point `to` of
// `target` shifted by (h, v). The steps keep one order so that a placement and a measurement
// agree to the last bit: target point less the element's top left corner, plus the distance,
// then the element's own point. Measuring passes -0.0 for both distances (the exact identity
// of addition) and negates the result.
inline Point Displacement(int32_t from, int32_t to, const Extent& target, const Extent& e, double h, double v) {
    const Point t = PointOf(target, to);
    Point d{t.x - e.xmin + h, t.y - e.ymax + v};
    const int32_t fromRow = PointRow(from);
    const int32_t fromColumn = PointColumn(from);
    if (fromRow == 1) d.y = d.y + e.height / 2.0;
    if (fromRow == 2) d.y = d.y + e.height;
    if (fromColumn == 1) d.x = d.x - e.width / 2.0;
    if (fromColumn == 2) d.x = d.x - e.width;
    return d;
}

// The present distances of the element's point `from` from the point `to` of `target`.
inline Point MeasuredDistance(int32_t from, int32_t to, const Extent& target, const Extent& e) {
    const Point d = Displacement(from, to, target, e, -0.0, -0.0);
    return {-d.x, -d.y};
}

// The code of the same point seen in a mirror standing upright: left and right trade places,
// the row stays.
inline constexpr std::array<int16_t, 9> kHorizontalMirror = {2, 1, 0, 5, 4, 3, 8, 7, 6};

}  // namespace crv
