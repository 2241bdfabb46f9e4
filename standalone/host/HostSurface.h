#pragma once
// The standalone host's layout as the book driver sees it, whoever filled it (a map document,
// a snapshot, a caller's description): the series' page put in force, the elements measured
// through the host interfaces as every host measures them, the page size and the report's head.

#include "book/BookDriver.h"
#include "standalone/host/StandaloneHost.h"

#include <functional>
#include <string>
#include <vector>

namespace crv::standalone {

// Every element of the layout, groups walked depth first, with the names of its groups.
void WalkElements(const std::vector<ComPtr<LayoutElement>>& top,
                  const std::function<void(const ComPtr<LayoutElement>&, const std::string& group)>& visit);

// The pages of the host's book, known without anchoring anything: the map series that sets
// them (the first map frame, in container order, that carries an enabled series) and its first
// and last page numbers; without one the book is a single page numbered 1. A map series whose
// index layer holds no feature has no pages: last is then first - 1.
struct BookRange {
    ComPtr<LayoutElement> series_frame;
    int32_t first = 1;
    int32_t last = 1;
    bool HasPages() const { return last >= first; }
};
BookRange BookRangeOf(const HostState& state);

class HostSurface : public book::BookSurface {
public:
    // The host must outlive the surface; `units` names the page's units in the report.
    HostSurface(StandaloneHost& host, std::string units);

    const BookRange& Range() const { return range_; }
    // Why the book's printed pages cannot be numbered (past 32 bits, counted from the first
    // page number or by place in the series); empty when they can.
    std::string PrintedPagesRefusal() const;
    // The layout as the report names it.
    void SetDocumentName(std::string name) { document_name_ = std::move(name); }

    // The map series' current page and the series layout's, when one is in force.
    bool PutPageInForce(int32_t page) override;
    // The size of the element's page, and where a page of the book prints several pages of the
    // layout, the element's printed page as the section in force; without an element, the
    // page's first layout page.
    void PutElementPageInForce(const ComPtr<LayoutElement>& element, int32_t page) override;
    // The printed number of layout page `layoutPage` (from 0) of the book's `page`: the page
    // itself where a page prints one; else the pages before it each printing N.
    int64_t PrintedPage(int32_t page, int32_t layoutPage) const;
    // The page last put in force; the book's first before any.
    int32_t PageInForce() const { return page_in_force_; }
    bool ElementPagesDiffer() const override { return element_pages_differ_; }
    std::vector<book::Placement> Measure(const book::AnchorSelection& selection) const override;
    // One element's rectangle as Measure gives it.
    Rect RectOf(const ComPtr<LayoutElement>& element) const;
    std::pair<double, double> PageSize() const override;
    book::ReportHead Head() const override;

private:
    void PutPrintedPageInForce(int32_t page, int32_t layoutPage);

    StandaloneHost& host_;
    ComPtr<HostDocument> document_;
    ComPtr<Display> display_;  // the layout view's, which every element is measured on
    BookRange range_;
    std::string units_;
    std::string document_name_;
    int32_t page_in_force_ = range_.first;
    bool element_pages_differ_ = false;
};

}  // namespace crv::standalone
