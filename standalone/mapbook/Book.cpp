#include "standalone/mapbook/Book.h"

#include "anchor/AnchorRecord.h"
#include "anchor/PageList.h"
#include "com/Regional.h"
#include "errors/ComError.h"
#include "support/Activation.h"
#include "support/MessageText.h"
#include "standalone/mapbook/Surface.h"

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
    ElementImpl& impl = StandaloneHost::Impl(e);
    if (!impl.IsGroup()) return;
    const std::string inner = group.empty() ? impl.name() : group + " / " + impl.name();
    for (const auto& m : impl.Members()) Walk(m, inner, visit);
}

Extent ExtentOfRect(const Rect& r) { return {r.xmin, r.ymin, r.xmax, r.ymax, r.xmax - r.xmin, r.ymax - r.ymin}; }

// The page number the engine tests for the alternate rule, found as the engine finds it: the
// position in the target's map series when the distances come from its fields, then moved by
// the first page of the section in force.
int32_t TestedPage(const HostState& state, const AnchorRecord& r, const ComPtr<LayoutElement>& target, int32_t page) {
    int64_t tested = page;
    if (target && (r.All.AnyFromField() || r.Alt.AnyFromField())) {
        if (const auto& series = StandaloneHost::Impl(target).series) {
            const int64_t position = int64_t{page} - series->first_page_number + 1;
            if (position >= 1 && position <= static_cast<int64_t>(series->PageCount())) tested = position;
        }
    }
    if (state.active_layout_kind == ActiveLayoutInfo::kSectionTemplate) {
        const auto t = state.section_templates.find(state.active_layout_name);
        if (t != state.section_templates.end()) {
            const auto first = t->second.section_pages.find(t->second.current_section);
            if (first != t->second.section_pages.end()) tested += CLng(first->second) - 1;
        }
    }
    return static_cast<int32_t>(tested);
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
        ElementImpl& impl = StandaloneHost::Impl(e);
        if (impl.Kind() == ElementKind::MapFrame && impl.series && impl.series->enabled) range.series_frame = e;
    });
    if (range.series_frame) {
        const SeriesData& s = *StandaloneHost::Impl(range.series_frame).series;
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
    surface_ = std::make_unique<DocumentSurface>(document_, range);
    driver_ = std::make_unique<BookDriver>(
        *surface_, [] { return CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId); },
        std::move(reportsShown));
    for (const auto& s : driver_->Selection().Elements()) order_.push_back(s.element);
}

MapBook::~MapBook() = default;

const std::vector<MapBook::LeftOut>& MapBook::LeftOutElements() const { return driver_->Selection().LeftOutElements(); }

const std::vector<std::string>& MapBook::RecordNotes() const { return driver_->Selection().RecordNotes(); }

PageList MapBook::ParsePages(const std::string& text) const { return ParseBookPages(text, first_, last_); }

void MapBook::PlacePage(int32_t page) { driver_->PlacePage(page); }

std::vector<Placement> MapBook::Placements() const { return surface_->Measure(driver_->Selection()); }

std::vector<MapBook::Outline> MapBook::Outlines(int32_t page) const {
    const HostState& state = document_.Host().State();
    static const AnchorRecord::KeySet kKeys = Without(kEveryKey, {key::AnchorElement, key::CanAnchor, key::Version});
    // Every element's target found as the engine finds it, from one walk of the layout.
    const ElementNames targets(RunningApplication()->Document()->PageLayout());
    std::vector<Outline> out;
    for (const auto& e : order_) {
        Outline o;
        const Extent extent = ExtentOfRect(StandaloneHost::ExtentOf(e));
        o.rect = StandaloneHost::ExtentOf(e);
        try {
            AnchorRecord r;
            r.Read(AnchorRecordOf(e), kKeys);
            const ComPtr<LayoutElement> target =
                r.AnchorType == kAnchorTypeNamedElement ? targets.Find(r.ElementName) : ComPtr<LayoutElement>();
            o.alternate = UsesAlternateRule(
                r, TestedPage(state, r, target, page), [](int32_t p) { return p % 2 != 0; },
                [&r](int32_t p) {
                    const auto pages = ReadPageList(r.AltAnchorPageRange, RegionalSettings::Current());
                    if (!pages) throw std::invalid_argument("no page listed");
                    return pages->Contains(p);
                });
            const AnchorRule& rule = o.alternate ? r.Alt : r.All;
            if (IsPointCode(rule.AnchorFrom) && IsPointCode(rule.AnchorTo)) {
                const Extent to = target ? ExtentOfRect(StandaloneHost::ExtentOf(target))
                                         : PageExtent(state.page_width, state.page_height);
                o.from = PointOf(extent, rule.AnchorFrom);
                o.to = PointOf(to, rule.AnchorTo);
            }
        } catch (const ComError&) {
        } catch (const std::invalid_argument&) {}
        out.push_back(o);
    }
    return out;
}

}  // namespace crv::standalone
