#pragma once
// Layout checks after a page is placed: an anchored element standing wholly or partly off the
// page, and, when asked, two anchored elements overlapping. Found page by page, gathered per
// element over the whole book so that the user reads one line per element and kind. Works on
// rectangles only, so every host's book runs the same checks.

#include "book/BookReport.h"
#include "book/Placement.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace crv::book {

// What the checks find on one page, the placements being the page's elements in walk order
// (groups followed by their members, as a surface measures them). Off the page: the
// rectangle is not wholly inside (0, 0)-(width, height). Overlap (only when `overlap`): two
// anchored rectangles share an area, a group and an element inside it excepted, and an element
// lying inside one it is anchored to, directly or along its chain of anchors (a north arrow in
// its map frame); each pair once, the element first met first. Findings come in the order of the placements.
std::vector<CheckFinding> CheckPage(const std::vector<Placement>& placements, double pageWidth, double pageHeight,
                                    bool overlap);

// Page numbers as "3, 8-12".
std::string PageRangesText(const PageList& pages);

// The findings of a book, page after page: each element's findings of one kind (each pair's,
// for overlaps) with the pages they were found on.
class CheckLog {
public:
    void AddPage(int32_t page, const std::vector<CheckFinding>& findings);
    bool Empty() const { return entries_.empty(); }
    // One line per element and kind, in the order first found, without a line end:
    // "\"North Arrow\" off the page on pages 3, 8-12",
    // "\"Legend\" overlaps \"Survey Note\" on page 2". None for a data-defined element: it
    // is named once before the book, as left out.
    std::vector<std::string> Lines() const;

private:
    struct Entry {
        CheckFinding finding;
        PageList pages;
    };
    std::vector<Entry> entries_;
    // Each finding's entry, so that a page of many findings is logged without a search each.
    std::map<std::tuple<CheckFinding::Kind, std::string, std::string>, size_t> index_;
};

}  // namespace crv::book
