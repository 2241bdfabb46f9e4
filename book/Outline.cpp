#include "book/Outline.h"

#include "anchor/PlacementPlan.h"
#include "book/Order.h"
#include "errors/ComError.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace crv::book {

std::vector<Outline> Outlines(const AnchorSelection& selection, int32_t page,
                              const AnchorSelection::BeforeEach& before) {
    static const AnchorRecord::KeySet kKeys = Without(kEveryKey, {key::Version});
    const ComPtr<HostDocument> document = RunningApplication()->Document();
    const ComPtr<Display> display = document->ActiveView()->ScreenDisplay();
    // Every element's target found as the engine finds it, from one walk of the layout.
    const ElementNames targets(document->PageLayout());
    const PlanHost host{[&targets](const std::string& name) { return targets.Find(name); }};
    std::vector<Outline> out;
    for (const auto& selected : selection.Elements()) {
        Outline o;
        if (before) before(selected.element);
        const Extent e = ElementExtent(selected.element, display, OutlineEnvelope::Copied);
        o.rect = {e.xmin, e.ymin, e.xmax, e.ymax};
        try {
            AnchorRecord r;
            r.Read(AnchorRecordOf(selected.element), kKeys);
            const PlacementPlan plan = PlanPlacement(r, selected.element, page, host);
            o.alternate = plan.alternate;
            o.from = plan.from;
            o.to = plan.to;
        } catch (const ComError&) {}
        out.push_back(o);
    }
    return out;
}

OutlineShapes ShapesOf(const Outline& o, double pixelsPerUnit, double pageHeight) {
    const auto at = [&](const Point& p) {
        return OutlineShapes::Pixel{p.x * pixelsPerUnit, (pageHeight - p.y) * pixelsPerUnit};
    };
    OutlineShapes s;
    s.pen = std::max(1.0, pixelsPerUnit * 0.01);
    s.box = {o.rect.xmin * pixelsPerUnit, (pageHeight - o.rect.ymax) * pixelsPerUnit, o.rect.Width() * pixelsPerUnit,
             o.rect.Height() * pixelsPerUnit};
    if (!o.from || !o.to) return s;
    const OutlineShapes::Pixel from = at(*o.from), to = at(*o.to);
    const double head = std::max(4.0, pixelsPerUnit * 0.08);
    const double dx = from.x - to.x, dy = from.y - to.y;
    const double length = std::hypot(dx, dy);
    if (length < head) {
        s.dot = std::pair{to, head / 2};
        return s;
    }
    s.line = std::pair{from, to};
    s.dashed = o.alternate;
    // The head at the target point, pointing along the line: two sides 25 degrees off it.
    const double back = std::atan2(dy, dx);
    const double spread = 25.0 * std::numbers::pi / 180.0;
    const auto side = [&](double angle) {
        return OutlineShapes::Pixel{to.x + head * std::cos(angle), to.y + head * std::sin(angle)};
    };
    s.head = std::array{to, side(back + spread), side(back - spread)};
    return s;
}

}  // namespace crv::book
