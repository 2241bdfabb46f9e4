#pragma once
// Exporting a map book: an iterator that puts the chosen pages in force one after the other,
// and an exporter that consumes it, writing every output page by page as it goes. Nothing of
// the book is held whole: memory stays the same whatever the number of pages.

#include "standalone/mapbook/Book.h"
#include "book/Checks.h"
#include "support/Errors.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace crv::standalone {

// The pages of a book in order, stepped through on the model of a layout iterator:
// Begin, then Next for each page, then End.
class BookPages {
public:
    BookPages(MapBook& book, PageList pages);

    MapBook& Book() const { return book_; }
    const PageList& Pages() const { return pages_; }
    size_t Count() const { return count_; }

    // Before the first page; false when there is none.
    bool Begin();
    // Puts the next page in force and places every anchored element for it; false after the
    // last page, and before Begin.
    bool Next();
    // After the last page: no page is stepped to any more.
    void End();

    // The page in force, valid after a Next that returned true.
    int32_t CurrentPage() const { return page_; }
    // How many pages Next has put in force since Begin.
    size_t Done() const { return done_; }

private:
    MapBook& book_;
    PageList pages_;
    size_t count_;
    bool running_ = false;
    size_t range_ = 0;
    int32_t page_ = 0;
    size_t done_ = 0;
};

// An output of the book that cannot be made as asked: one line, nothing written.
class ExportError : public CommandError {
public:
    using CommandError::CommandError;
};

struct ExportOptions {
    std::optional<std::filesystem::path> pdf;  // one multi-page PDF
    std::optional<std::filesystem::path> png;  // a folder of page-NNN.png
    double dpi = 100;  // of the PNG pages
    std::optional<std::filesystem::path> report;  // every element's rectangle on every page (JSON)
    std::optional<std::filesystem::path> save;  // the document as left on the last page
    std::string document_name;  // the document as the report names it
    bool check_overlap = false;  // the layout checks look for anchored elements overlapping too
    bool outline = false;  // the PNG pages show each anchored element's rectangle and rule
};

// Where an export's time went, in seconds.
struct ExportTimes {
    double anchoring = 0;  // pages put in force, elements placed
    double reporting = 0;  // the report's pages written
    double rendering = 0;  // PDF and PNG pages drawn and written
};

class BookExporter {
public:
    explicit BookExporter(Document& document) : document_(document) {}

    // Called after each page: pages done, and the page.
    using Progress = std::function<void(size_t done, int32_t page)>;

    // Steps `pages` from Begin to End, checks the layout of every page and writes the outputs
    // asked for. Every file is replaced
    // whole or not at all; the report ends with the count `errorReports` gives. Throws
    // ExportError, RenderError or FileWriteError with one line.
    void Export(BookPages& pages, const ExportOptions& options, const Progress& progress,
                const std::function<int()>& errorReports);

    const ExportTimes& Times() const { return times_; }
    // What the layout checks found on the pages exported.
    const CheckLog& Checks() const { return checks_; }

private:
    Document& document_;
    ExportTimes times_;
    CheckLog checks_;
};

}  // namespace crv::standalone
