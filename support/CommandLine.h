#pragma once
// Pieces every map-book command shares, whichever host it runs: telling two paths to be one
// file, making an output folder, and a progress bar on a terminal.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace crv::support {

// Which file a path names, so that two paths can be told to be one file whatever their
// spelling: device and inode of a file that exists; the canonical folder and the name of one
// still to be made.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    bool folder = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string future;

    bool operator==(const FileIdentity& o) const {
        if (exists != o.exists) return false;
        return exists ? device == o.device && inode == o.inode : future == o.future;
    }
};

std::filesystem::path WithoutTrailingSlash(const std::filesystem::path& p);
FileIdentity IdentityOf(const std::filesystem::path& path);

// Makes an output folder and the folders above it. Throws FileWriteError with one line naming
// the option and the folder: `--png "out/png": cannot create the folder: Permission denied`.
void MakeOutputFolder(const std::string& option, const std::filesystem::path& folder);

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

}  // namespace crv::support
