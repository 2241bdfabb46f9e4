#pragma once
// A picture of the anchoring on a page: each anchored element's rectangle, and an arrow from its
// own point to the point of the page or of its target that its rule on the page puts it on,
// dashed for the alternate rule. Worked out from the engine's placement plan, so that what is
// drawn is what the engine does, and handed to each host's drawing as plain shapes in pixels.

#include "anchor/ReferenceGeometry.h"
#include "book/Placement.h"
#include "objects/GenericObjects.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace crv::book {

using objects::Rect;

// How one anchored element stands on the page in force.
struct Outline {
    Rect rect;  // as the engine measures it
    bool alternate = false;  // the record's alternate rule applies on the page
    // The element's own point and the point it is put on (before the rule's distances); none
    // when the record cannot be read for the page (the engine then reported why).
    std::optional<Point> from, to;
};

// Every selected element's outline on `page`, in the order they are placed. The page is in force.
std::vector<Outline> Outlines(const AnchorSelection& selection, int32_t page,
                              const AnchorSelection::BeforeEach& before = {});

// What an outline is drawn as on a picture of `pixelsPerUnit` pixels a page unit and a page
// `pageHeight` units high: pixels, x to the right and y down, all in one colour (kOutlineRgb).
struct OutlineShapes {
    struct Box {
        double x, y, width, height;
    };
    struct Pixel {
        double x, y;
    };
    Box box;  // the element's rectangle
    double pen = 1;  // the width of every line
    std::optional<std::pair<Pixel, Pixel>> line;  // from the element's point to the target point
    bool dashed = false;  // the line of an alternate rule
    std::optional<std::array<Pixel, 3>> head;  // a filled arrow head at the target point
    std::optional<std::pair<Pixel, double>> dot;  // a circle (centre, radius) when the points nearly meet
};
inline constexpr std::array<int, 3> kOutlineRgb = {255, 0, 255};
OutlineShapes ShapesOf(const Outline& outline, double pixelsPerUnit, double pageHeight);

}  // namespace crv::book
