#pragma once
// The report of a map book: every element's rectangle on every page, written as JSON while the
// pages come, so that a book of any length is reported in the same memory. Every host's book
// writes the same shape.

#include "objects/GenericObjects.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace crv::book {

using objects::Rect;

// Where one element stands on a page.
struct Placement {
    std::string name;
    std::string group;  // names of the enclosing groups, outermost first, joined by " / "
    std::string type;  // "text", "picture", "map_frame", "group"; "element" where a host tells no finer
    bool anchored = false;
    std::optional<int16_t> priority;
    // The element it is anchored to, then the one that element is anchored to, and so on.
    std::vector<std::string> anchored_to;
    Rect rect;  // the element's rectangle as the engine measures it
    // In a layout of several pages, the page the element stands on (from 0), on which its
    // rectangle is measured, and that page's size when it is not the book's page size.
    int layout_page = 0;
    std::optional<std::pair<double, double>> page_size;
};

// A finding of the layout checks (Checks.h) on a page. DataDefined: an anchored element that
// the host places itself from data (a QGIS item's data-defined position), which the book
// leaves out; the host finds it, not the checks.
struct CheckFinding {
    enum class Kind { OffPage, Overlap, DataDefined };
    Kind kind = Kind::OffPage;
    std::string element;
    std::string other;  // the element it overlaps; empty for off the page
};

// A rectangle as "(xmin, ymin)-(xmax, ymax)", three decimals.
std::string RectText(const Rect& r);

// What the report says before its pages.
struct ReportHead {
    std::string document;
    std::string units;
    double page_width = 0;
    double page_height = 0;
    struct Series {
        std::string frame;
        int32_t first_page = 1;
        int32_t last_page = 1;
    };
    std::optional<Series> series;
    std::vector<std::string> anchor_order;
};

// One page of the report, as the report holds it, on one line: for a caller that takes the
// pages as they come instead of a file.
std::string PageRecordText(int32_t page, const std::vector<Placement>& placements,
                           const std::vector<CheckFinding>& checks = {});

// The report written as the pages come, in the layout of the whole report dumped with an
// indent of two, to a file that replaces the destination at Finish. Throws FileWriteError.
class BookReport {
public:
    BookReport(const std::filesystem::path& path, const ReportHead& head);
    ~BookReport();
    BookReport(const BookReport&) = delete;
    BookReport& operator=(const BookReport&) = delete;

    // `checks` lists the layout checks' findings on the page, as "kind" ("off_page", "overlap"
    // or "data_defined"), "element" and, for an overlap, "other"; the page has a "checks"
    // member only when there are some.
    void AddPage(int32_t page, const std::vector<Placement>& placements, const std::vector<CheckFinding>& checks = {});
    // Ends the report with the count of error reports and puts it in place.
    void Finish(int errorReports);

private:
    class Stream;
    std::unique_ptr<Stream> stream_;
};

}  // namespace crv::book
