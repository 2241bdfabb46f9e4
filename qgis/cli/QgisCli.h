#pragma once
// The command line `crvanchor-qgis`: run a QGIS print layout's atlas with every anchored item
// placed on every page before QGIS draws it, edit an item's anchor record, show a layout's
// records. Kept apart from main() so that tests can run it; a QgsApplication must exist.
//
// Exit status: 0 done; 1 the component showed error reports (counted on the last line of
// standard error); 2 a bad project or argument (one line on standard error).

#include <cstddef>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

class QgsPrintLayout;
class QgsProject;

namespace crv::qgis {

// Keeps what QGIS and its libraries write straight to standard error (projection database
// notes, toolkit warnings) off it while it lives, so that the command's own line stands alone.
class QuietStandardError {
public:
    QuietStandardError();
    ~QuietStandardError();
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_ = -1;
};

// The project's print layout `name`, or its only one when no name is given. Throws
// support::CommandError in one line naming the project's print layouts.
QgsPrintLayout& FindPrintLayout(QgsProject& project, const std::optional<std::string>& name,
                                const std::string& projectName);

// Writes the project over `path` whole or not at all, leaving no other file beside it. Throws
// support::FileWriteError.
void SaveProject(QgsProject& project, const std::filesystem::path& path);

// `args` without the program name.
int RunCrvAnchorQgis(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Told after each page of a book (pages done, pages in all); false stops the book.
using PageDone = std::function<bool(size_t, size_t)>;

// The book of a print layout QGIS has open (a Processing algorithm's), as it stands in memory:
// the command's book options (--pages, --pdf, --png, --dpi, --report, --check-overlap, --strict,
// --outline, --timing) and its exit status; the component must be loaded.
int RunBookOnLayout(QgsPrintLayout& layout, const std::vector<std::string>& options, std::ostream& out,
                    std::ostream& err, const PageDone& pageDone = nullptr);

}  // namespace crv::qgis
