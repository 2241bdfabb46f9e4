#include "standalone/mapbook/Surface.h"

namespace crv::standalone {

bool DocumentSurface::PutPageInForce(int32_t page) {
    HostState& state = document_.Host().State();
    if (range_.series_frame) {
        SeriesData& s = *StandaloneHost::ElementOf(range_.series_frame).series;
        const int64_t position = int64_t{page} - s.first_page_number + 1;
        if (position >= 1 && position <= static_cast<int64_t>(s.PageCount())) {
            s.current_position = static_cast<int32_t>(position);
        }
    }
    if (state.active_layout_kind == ActiveLayoutInfo::kSeriesLayout) {
        state.series_layouts[state.active_layout_name] = Variant(page);
    }
    return true;
}

std::vector<book::Placement> DocumentSurface::Measure(const book::AnchorSelection& selection) const {
    std::vector<book::Placement> out;
    WalkElements(document_.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string& group) {
        ElementImpl& impl = StandaloneHost::ElementOf(e);
        book::Placement p;
        p.name = impl.name();
        p.group = group;
        p.type = ElementTypeName(impl.Kind());
        p.priority = selection.PriorityOf(e);
        p.anchored_to = selection.AnchoredTo(e);
        p.anchored = p.priority.has_value();
        p.rect = StandaloneHost::ExtentOf(e);
        out.push_back(std::move(p));
    });
    return out;
}

std::pair<double, double> DocumentSurface::PageSize() const {
    const HostState& state = document_.Host().State();
    return {state.page_width, state.page_height};
}

book::ReportHead DocumentSurface::Head() const {
    book::ReportHead head;
    head.document = document_name_;
    head.units = document_.Units();
    std::tie(head.page_width, head.page_height) = PageSize();
    if (range_.series_frame) {
        head.series =
            book::ReportHead::Series{StandaloneHost::ElementOf(range_.series_frame).name(), range_.first, range_.last};
    }
    return head;
}

}  // namespace crv::standalone
