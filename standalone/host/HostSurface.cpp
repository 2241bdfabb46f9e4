#include "standalone/host/HostSurface.h"

#include "book/Measure.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>

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

BookRange BookRangeOf(const HostState& state) {
    BookRange range;
    WalkElements(state.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
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

std::string HostSurface::PrintedPagesRefusal() const {
    const HostState& state = host_.State();
    const int32_t n = state.printed_pages_per_page;
    const BookRange& range = range_;
    if (n <= 1 || !range.HasPages()) return "";
    int64_t deepest = 0;
    WalkElements(state.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        deepest = std::max<int64_t>(deepest, StandaloneHost::ElementOf(e).layout_page);
    });
    // The highest printed page, counted from the first page number or, by place in the series,
    // from 1; and the lowest starting page the section in force takes it back by.
    const int64_t pages = int64_t{range.last} - range.first;
    const int64_t highest = std::max<int64_t>(range.first, 1) + pages * n + deepest;
    const int64_t lowest = range.first - pages * (n - 2) - deepest;
    if (highest <= std::numeric_limits<int32_t>::max() && lowest >= std::numeric_limits<int32_t>::min()) return "";
    return "with " + std::to_string(n) + " printed pages a page the book's pages " + std::to_string(range.first) +
           " to " + std::to_string(range.last) + " are numbered past 32 bits";
}

HostSurface::HostSurface(StandaloneHost& host, std::string units)
    : host_(host),
      document_(host.Application()->Document()),
      display_(document_->ActiveView()->ScreenDisplay()),
      range_(BookRangeOf(host.State())),
      units_(std::move(units)) {
    const HostState& state = host.State();
    element_pages_differ_ = state.printed_pages_per_page > 1;
    WalkElements(state.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (StandaloneHost::ElementOf(e).page_size) element_pages_differ_ = true;
    });
}

bool HostSurface::PutPageInForce(int32_t page) {
    HostState& state = host_.State();
    page_in_force_ = page;
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
    if (element_pages_differ_) PutElementPageInForce({}, page);
    return true;
}

void HostSurface::PutElementPageInForce(const ComPtr<LayoutElement>& element, int32_t page) {
    HostState& state = host_.State();
    const ElementImpl* impl = element ? &StandaloneHost::ElementOf(element) : nullptr;
    state.page_size_in_force = impl != nullptr ? impl->page_size : std::nullopt;
    if (state.printed_pages_per_page > 1) PutPrintedPageInForce(page, impl != nullptr ? impl->layout_page : 0);
}

int64_t HostSurface::PrintedPage(int32_t page, int32_t layoutPage) const {
    const int32_t n = host_.State().printed_pages_per_page;
    if (n <= 1) return page;
    return range_.first + (int64_t{page} - range_.first) * n + layoutPage;
}

// The engine counts a page as its number (or its place in the series) moved by the section in
// force, so the printed page is told as a section whose page carries the shift from the book's
// page to the printed one; the template's starting page takes it back, so that the page in
// force (starting page + section page - 1) stays the book's page. The snapshot refuses a book
// whose printed pages do not fit 32 bits, so both fit.
void HostSurface::PutPrintedPageInForce(int32_t page, int32_t layoutPage) {
    HostState& state = host_.State();
    const int64_t shift = PrintedPage(page, layoutPage) - page;
    const auto sectionPage = static_cast<int32_t>(shift + 1);
    const auto starting = static_cast<int32_t>(int64_t{page} - shift);
    if (state.active_layout_name.empty()) state.active_layout_name = "Layout";
    state.active_layout_kind = ActiveLayoutInfo::kSectionTemplate;
    SectionTemplate& section = state.section_templates[state.active_layout_name];
    section.starting_page = Variant(starting);
    section.current_section = "Page " + std::to_string(int64_t{layoutPage} + 1);
    section.section_pages = {{section.current_section, Variant(sectionPage)}};
}

std::vector<book::Placement> HostSurface::Measure(const book::AnchorSelection& selection) const {
    return book::MeasureLayout(document_->PageLayout(), display_, selection,
                               [](const ComPtr<LayoutElement>& e, book::Placement& p) {
                                   const ElementImpl& impl = StandaloneHost::ElementOf(e);
                                   p.type = ElementTypeName(impl.Kind());
                                   // Items of different layout pages never overlap, however
                                   // their rectangles meet.
                                   p.layout_page = impl.layout_page;
                                   p.page_size = impl.page_size;
                               });
}

Rect HostSurface::RectOf(const ComPtr<LayoutElement>& element) const { return book::MeasuredRect(element, display_); }

std::pair<double, double> HostSurface::PageSize() const {
    const HostState& state = host_.State();
    return {state.page_width, state.page_height};
}

book::ReportHead HostSurface::Head() const {
    book::ReportHead head;
    head.document = document_name_;
    head.units = units_;
    std::tie(head.page_width, head.page_height) = PageSize();
    if (range_.series_frame) {
        head.series =
            book::ReportHead::Series{StandaloneHost::ElementOf(range_.series_frame).name(), range_.first, range_.last};
    }
    return head;
}

}  // namespace crv::standalone
