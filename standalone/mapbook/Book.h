#pragma once
// A map book: the pages of a document's map series, and every anchored element placed on each
// of them by the anchoring engine, the way a calling tool drives it: each element selected
// once, then placed page after page.

#include "anchor/CRVAnchorManager.h"
#include "anchor/ReferenceGeometry.h"
#include "standalone/document/Document.h"
#include "book/BookReport.h"
#include "book/Outline.h"
#include "book/Placement.h"
#include "standalone/host/HostSurface.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crv::book {
class BookDriver;
}  // namespace crv::book

namespace crv::standalone {

// The map book is the shared book over map documents.
using namespace crv::book;

class DocumentSurface;

class MapBook {
public:
    // The document must stay loaded while the book lives. Creates the engine by its
    // programmatic identifier, so it must be creatable.
    //
    // The engine tells its caller nothing, only the user; `reportsShown`, when given, counts
    // the reports shown so far, so that an element whose selection was reported is left out
    // instead of being reported again on every page.
    explicit MapBook(Document& document, std::function<int()> reportsShown = {});
    ~MapBook();

    // The map series that sets the pages: the first map frame, in container order, that
    // carries an enabled series. Without one the book is a single page numbered 1.
    const ComPtr<LayoutElement>& SeriesFrame() const;
    int32_t FirstPage() const;
    int32_t LastPage() const;
    PageList AllPages() const { return {FirstPage(), LastPage()}; }
    // False for a map series whose index layer holds no feature: LastPage is then FirstPage - 1.
    bool HasPages() const { return LastPage() >= FirstPage(); }

    // Page numbers from text such as "1-3,7": pieces of a number or a range, each inside the
    // book. Throws std::invalid_argument with a one-line message.
    PageList ParsePages(const std::string& text) const;

    // The elements that carry an anchor record and can be anchored, in the order they are
    // placed: HIGH, then MEDIUM, then LOW, then any other priority code; container order
    // (groups walked depth first) within a priority.
    const std::vector<ComPtr<LayoutElement>>& AnchorOrder() const { return order_; }

    // The elements that carry an anchor record but are left out of the book, each once, with
    // the reason in a few words ("its target \"Inset Map\" is not in the layout").
    using LeftOut = AnchorSelection::LeftOut;
    const std::vector<LeftOut>& LeftOutElements() const;
    // The values of selected elements' records that the book uses although they are no codes
    // of their keys, one line an element (AnchorSelection::RecordNotes).
    const std::vector<std::string>& RecordNotes() const;

    // Puts the page in force in the companions (the map series' current page and the series
    // layout's, when one is in force) and places every selected element for it. Whatever
    // draws the page reads its values from the series' page in force.
    void PlacePage(int32_t page);

    // Every element of the layout, groups walked depth first, where it stands now.
    std::vector<Placement> Placements() const;

    // The driver that steps the book's pages with its report and checks, and the document as
    // it sees it.
    BookDriver& Driver() { return *driver_; }
    DocumentSurface& Surface() { return *surface_; }

    // How each anchored element stands on the page in force, in the order they are placed.
    std::vector<Outline> Outlines(int32_t page) const;

private:
    Document& document_;
    std::unique_ptr<DocumentSurface> surface_;
    std::unique_ptr<BookDriver> driver_;
    std::vector<ComPtr<LayoutElement>> order_;
};

}  // namespace crv::standalone
