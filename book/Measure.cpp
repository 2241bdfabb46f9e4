#include "book/Measure.h"

#include "anchor/ReferenceGeometry.h"
#include "book/Order.h"

#include <utility>

namespace crv::book {

Rect MeasuredRect(const ComPtr<LayoutElement>& element, const ComPtr<Display>& display) {
    const Extent e = ElementExtent(element, display, OutlineEnvelope::Reported);
    return {e.xmin, e.ymin, e.xmax, e.ymax};
}

std::vector<Placement> MeasureLayout(const ComPtr<ElementContainer>& layout, const ComPtr<Display>& display,
                                     const AnchorSelection& selection, const DescribeElement& describe) {
    std::vector<Placement> out;
    WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string& group) {
        Placement p;
        p.name = e->Name();
        p.group = group;
        p.type = ComPtr<MapFrame>::Query(e)                                                   ? "map_frame"
                 : ComPtr<ElementSequence>::Query(e) || ComPtr<ElementGroup>::Query(e) ? "group"
                                                                                           : "element";
        p.priority = selection.PriorityOf(e);
        p.anchored_to = selection.AnchoredTo(e);
        p.anchored = p.priority.has_value();
        p.rect = MeasuredRect(e, display);
        if (describe) describe(e, p);
        out.push_back(std::move(p));
    });
    return out;
}

}  // namespace crv::book
