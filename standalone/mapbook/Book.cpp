#include "standalone/mapbook/Book.h"

#include "standalone/mapbook/Surface.h"
#include "commands/PagesOption.h"
#include "support/Activation.h"

#include <functional>

namespace crv::standalone {

MapBook::MapBook(Document& document, std::function<int()> reportsShown) : document_(document) {
    surface_ = std::make_unique<DocumentSurface>(document_);
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

PageList MapBook::ParsePages(const std::string& text) const { return commands::ParseBookPages(text, FirstPage(), LastPage()); }

void MapBook::PlacePage(int32_t page) { driver_->PlacePage(page); }

std::vector<Placement> MapBook::Placements() const { return surface_->Measure(driver_->Selection()); }

std::vector<Outline> MapBook::Outlines(int32_t page) const { return driver_->Outlines(page); }

}  // namespace crv::standalone
