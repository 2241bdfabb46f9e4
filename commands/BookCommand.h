#pragma once
// What a map-book command does around its book, whichever host it runs: --dpi read, a progress
// bar on a terminal, what it says of the selection, and how it ends (the checks' findings, the
// summary, the timing line, the status after error reports).

#include "book/BookDriver.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace crv::commands {

// The resolution of PNG pages given with --dpi: a number from kMinDpi to kMaxDpi. Throws
// std::invalid_argument with the one line to show.
inline constexpr double kMinDpi = 10;
inline constexpr double kMaxDpi = 1200;
double ParseDpi(const std::string& text);

// What a map-book command prints when it is done: "Map book WHAT: N pages, M anchored
// elements" and a line for each output written.
struct BookOutputs {
    std::optional<std::filesystem::path> pdf, png, report, save;
};
std::string BookSummary(const std::string& what, size_t pages, size_t anchored, const BookOutputs& outputs);

// The status of a command after its work gave `status`: 1, with the line "PROGRAM: N error
// reports shown" on `err`, when the component showed error reports; else `status`.
int StatusAfterReports(const char* program, int reportsShown, int status, std::ostream& err);

// Where a book's time went, as `--timing` shows it.
struct BookTiming {
    double total = 0;  // the whole run
    double loading = 0;  // the document or project read, the elements chosen
    double anchoring = 0;  // pages put in force, elements placed
    double reporting = 0;  // the report's pages written
    double rendering = 0;  // PDF and PNG pages drawn and written
    size_t placements = 0;
};
// "  timing: total ... s; ... anchoring is N% of the run" and its line break.
std::string TimingLine(const BookTiming& t);

// A bar on standard error that says how far a book has got, only when that is a terminal.
class Progress {
public:
    Progress(std::ostream& err, size_t total);
    void Step(size_t done, int32_t page);
    void Done();

private:
    std::ostream& err_;
    size_t total_;
    bool on_;
};

// Names on `err`, after "PROGRAM: ", each element left out of the book with its reason, then
// each note on the values of a selected element's record.
void TellSelection(const book::AnchorSelection& selection, const char* program, std::ostream& err);

// How a book command ends: the checks' findings on `err`, one line each after "PROGRAM: ", then
// the summary and, with --timing, the timing line on `out`.
struct BookEnd {
    const char* program = "";
    std::string what;  // the book as the summary names it
    BookOutputs outputs;
    bool strict = false;  // findings make the status 1
    struct Timing {
        double total = 0;
        double loading = 0;
        // The PDF and PNG pages drawn and written; the rest of the run when not measured.
        std::optional<double> rendering;
    };
    std::optional<Timing> timing;
};
// Returns the book's status: 1 with `strict` when the checks found something, else 0.
int TellBookEnd(const book::BookDriver& driver, const BookEnd& end, std::ostream& out, std::ostream& err);

}  // namespace crv::commands
