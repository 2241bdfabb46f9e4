#include "standalone/mapbook/Book.h"

#include "anchor/AnchorRecord.h"
#include "anchor/PlacementPlan.h"
#include "errors/ComError.h"
#include "support/Activation.h"
#include "support/MessageText.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace crv::standalone {

namespace {

void Walk(const ComPtr<LayoutElement>& e, const std::string& group,
          const std::function<void(const ComPtr<LayoutElement>&, const std::string&)>& visit) {
    visit(e, group);
    ElementImpl& impl = StandaloneHost::ElementOf(e);
    if (!impl.IsGroup()) return;
    const std::string inner = group.empty() ? impl.name() : group + " / " + impl.name();
    for (const auto& m : impl.Members()) Walk(m, inner, visit);
}

}  // namespace

void WalkElements(const std::vector<ComPtr<LayoutElement>>& top,
                  const std::function<void(const ComPtr<LayoutElement>&, const std::string& group)>& visit) {
    for (const auto& e : top) Walk(e, "", visit);
}

const char* ElementTypeName(ElementKind kind) {
    switch (kind) {
        case ElementKind::Text: return "text";
        case ElementKind::Picture: return "picture";
        case ElementKind::MapFrame: return "map_frame";
        default: return "group";
    }
}

BookRange BookRangeOf(const Document& document) {
    BookRange range;
    WalkElements(document.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (range.series_frame) return;
        ElementImpl& impl = StandaloneHost::ElementOf(e);
        if (impl.Kind() == ElementKind::MapFrame && impl.series && impl.series->enabled) range.series_frame = e;
    });
    if (range.series_frame) {
        const SeriesData& s = *StandaloneHost::ElementOf(range.series_frame).series;
        range.first = s.first_page_number;
        range.last = s.first_page_number + static_cast<int32_t>(s.PageCount()) - 1;
    }
    return range;
}

MapBook::MapBook(Document& document, std::function<int()> reportsShown) : document_(document) {
    const BookRange range = BookRangeOf(document_);
    series_frame_ = range.series_frame;
    first_ = range.first;
    last_ = range.last;
    selection_ = std::make_unique<AnchorSelection>(
        [] { return CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId); }, reportsShown);
    for (const auto& s : selection_->Elements()) order_.push_back(s.element);
}

MapBook::~MapBook() = default;

PageList MapBook::ParsePages(const std::string& text) const { return ParseBookPages(text, first_, last_); }

void MapBook::PlacePage(int32_t page) {
    HostState& state = document_.Host().State();
    if (series_frame_) {
        SeriesData& s = *StandaloneHost::ElementOf(series_frame_).series;
        const int64_t position = int64_t{page} - s.first_page_number + 1;
        if (position >= 1 && position <= static_cast<int64_t>(s.PageCount())) {
            s.current_position = static_cast<int32_t>(position);
        }
    }
    if (state.active_layout_kind == ActiveLayoutInfo::kSeriesLayout) {
        state.series_layouts[state.active_layout_name] = Variant(page);
    }
    selection_->PlacePage(page);
}

std::vector<Placement> MapBook::Placements() const {
    std::vector<Placement> out;
    WalkElements(document_.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string& group) {
        ElementImpl& impl = StandaloneHost::ElementOf(e);
        Placement p;
        p.name = impl.name();
        p.group = group;
        p.type = ElementTypeName(impl.Kind());
        p.priority = selection_->PriorityOf(e);
        p.anchored = p.priority.has_value();
        p.rect = StandaloneHost::ExtentOf(e);
        out.push_back(std::move(p));
    });
    return out;
}

std::vector<MapBook::Outline> MapBook::Outlines(int32_t page) const {
    static const AnchorRecord::KeySet kKeys = Without(kEveryKey, {key::Version});
    // Every element's target found as the engine finds it, from one walk of the layout.
    const ElementNames targets(RunningApplication()->Document()->PageLayout());
    const PlanHost host{[&targets](const std::string& name) { return targets.Find(name); }};
    std::vector<Outline> out;
    for (const auto& e : order_) {
        Outline o;
        o.rect = StandaloneHost::ExtentOf(e);
        try {
            AnchorRecord r;
            r.Read(AnchorRecordOf(e), kKeys);
            const PlacementPlan plan = PlanPlacement(r, e, page, host);
            o.alternate = plan.alternate;
            o.from = plan.from;
            o.to = plan.to;
        } catch (const ComError&) {}
        out.push_back(o);
    }
    return out;
}

}  // namespace crv::standalone
