#pragma once
// One driver of a map book for every host: it chooses the anchored elements once, then for
// each page asks the host to put the page in force, places the elements, measures them, runs
// the layout checks, writes the report's page and asks the host to draw the page. The host
// only offers a small surface (BookSurface). Each page is anchored once, however many outputs
// are asked for, and the pages can be pushed by a loop of ours (Run) or pulled one by one by a
// host's own exporter (Begin, Next, End), which draws after each Next.

#include "book/BookReport.h"
#include "book/Checks.h"
#include "book/Outline.h"
#include "book/PageCursor.h"
#include "book/Placement.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crv::book {

// What a host does for the driver.
class BookSurface {
public:
    virtual ~BookSurface() = default;
    // Puts the page in force, so that the engine and drawing read its values; false when the
    // host cannot show it, which ends the book there.
    virtual bool PutPageInForce(int32_t page) = 0;
    // Every element of the layout where it stands now, groups followed by their members;
    // `selection` gives each element's priority.
    virtual std::vector<Placement> Measure(const AnchorSelection& selection) const = 0;
    // The size of the layout's page, which the checks measure against.
    virtual std::pair<double, double> PageSize() const = 0;
    // What the report says before its pages, but the anchor order, which the driver knows.
    virtual ReportHead Head() const = 0;
    // Draws the page placed to the outputs the host writes page by page; nothing by default.
    virtual void DrawPage(int32_t /*page*/) {}
    // Puts in force, before the element is placed (or its placement planned) for the page, the
    // printed page the element stands on: its size, and its number where a page of the book
    // prints several pages of the layout; without an element, the page's own again. Nothing by
    // default: one printed page a page.
    virtual void PutElementPageInForce(const ComPtr<LayoutElement>& /*element*/, int32_t /*page*/) {}
    // Whether an element's printed page ever differs from the page's own (PutElementPageInForce
    // then has something to do): not asked for every placement of a book where none does.
    virtual bool ElementPagesDiffer() const { return false; }
};

// Where a book's time went, in seconds.
struct DriverTimes {
    double anchoring = 0;  // elements placed
    double reporting = 0;  // pages measured, checked and reported
    double drawing = 0;  // pages drawn by the surface
};

// One page placed, measured and checked.
struct PageDone {
    std::vector<Placement> placements;
    std::vector<CheckFinding> findings;
};

class BookDriver {
public:
    // Selects the anchored elements of the running application's layout at once, as
    // AnchorSelection does; `reportsShown` also gives the report's count of error reports.
    BookDriver(BookSurface& surface, const AnchorSelection::ManagerFactory& newManager,
               std::function<int()> reportsShown = {}, const AnchorSelection::HostRefusal& refusal = {});
    ~BookDriver();
    BookDriver(const BookDriver&) = delete;
    BookDriver& operator=(const BookDriver&) = delete;

    const AnchorSelection& Selection() const { return *selection_; }
    // The names of the selected elements in the order they are placed.
    std::vector<std::string> AnchorOrder() const;

    // Puts the page in force and places every selected element for it; nothing is measured,
    // checked or reported (a window or a designer showing the page).
    void PlacePage(int32_t page);
    // What --outline draws for the page placed: each selected element's rectangle and rule.
    std::vector<Outline> Outlines(int32_t page) const;

    // A finding of every page, such as an element the host places itself from data: logged
    // and reported with each page's own.
    void AddStandingFinding(const CheckFinding& finding) { standing_.push_back(finding); }
    // The checks also look for anchored elements overlapping.
    void CheckOverlap(bool on) { check_overlap_ = on; }
    // Called after each page is done: pages done, and the page.
    using Progress = std::function<void(size_t done, int32_t page)>;
    void OnPage(Progress progress) { progress_ = std::move(progress); }
    // Writes the report to `path` as the pages come; the head is the surface's. Throws
    // FileWriteError.
    void StartReport(const std::filesystem::path& path);

    // Puts the page in force, places every selected element for it, measures, checks and
    // reports it (when a report is written); nothing is drawn. Nothing when the surface cannot
    // put the page in force. For a host that takes the pages in an order of its own.
    std::optional<PageDone> DoPage(int32_t page);

    // Steps `pages` from the start; false when there is none.
    bool Begin(PageList pages);
    // The next page put in force, placed, measured, checked, reported and drawn; false after
    // the last page, before Begin, or when the surface cannot put the page in force.
    bool Next();
    void End() { cursor_.End(); }
    const PageCursor& Cursor() const { return cursor_; }
    // The pages placed, checked, reported and drawn since Begin.
    size_t PagesDone() const { return pages_done_; }
    // Begin, Next until the last page, End.
    void Run(PageList pages);

    // Ends the report, when one is written, with the count of error reports, and puts it in place.
    void Finish();

    const CheckLog& Checks() const { return checks_; }
    const DriverTimes& Times() const { return times_; }

private:
    // Each element placed on its own printed page (ElementPages), then the page's own again.
    AnchorSelection::BeforeEach ElementPages(int32_t page) const;
    void EndElementPages(int32_t page) const;
    void PlaceElements(int32_t page);

    BookSurface& surface_;
    std::function<int()> reports_shown_;
    std::unique_ptr<AnchorSelection> selection_;
    std::unique_ptr<BookReport> report_;
    std::vector<CheckFinding> standing_;
    bool check_overlap_ = false;
    Progress progress_;
    PageCursor cursor_;
    size_t pages_done_ = 0;
    CheckLog checks_;
    DriverTimes times_;
};

}  // namespace crv::book
