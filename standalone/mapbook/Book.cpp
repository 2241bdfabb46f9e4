#include "standalone/mapbook/Book.h"

#include "standalone/mapbook/Surface.h"
#include "support/Activation.h"

#include <functional>

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
    surface_ = std::make_unique<DocumentSurface>(document_, BookRangeOf(document_));
    driver_ = std::make_unique<BookDriver>(
        *surface_, [] { return CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId); },
        std::move(reportsShown));
    for (const auto& s : driver_->Selection().Elements()) order_.push_back(s.element);
}

MapBook::~MapBook() = default;

const std::vector<MapBook::LeftOut>& MapBook::LeftOutElements() const { return driver_->Selection().LeftOutElements(); }

const std::vector<std::string>& MapBook::RecordNotes() const { return driver_->Selection().RecordNotes(); }

const ComPtr<LayoutElement>& MapBook::SeriesFrame() const { return surface_->Range().series_frame; }

int32_t MapBook::FirstPage() const { return surface_->Range().first; }

int32_t MapBook::LastPage() const { return surface_->Range().last; }

PageList MapBook::ParsePages(const std::string& text) const { return ParseBookPages(text, FirstPage(), LastPage()); }

void MapBook::PlacePage(int32_t page) { driver_->PlacePage(page); }

std::vector<Placement> MapBook::Placements() const { return surface_->Measure(driver_->Selection()); }

std::vector<Outline> MapBook::Outlines(int32_t page) const { return book::Outlines(driver_->Selection(), page); }

}  // namespace crv::standalone
