#pragma once
// The command line `crvanchor-qgis`: run a QGIS print layout's atlas with every anchored item
// placed on every page before QGIS draws it, edit an item's anchor record, show a layout's
// records. Kept apart from main() so that tests can run it; a QgsApplication must exist.
//
// Exit status: 0 done; 1 the component showed error reports (counted on the last line of
// standard error); 2 a bad project or argument (one line on standard error).

#include <iosfwd>
#include <string>
#include <vector>

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

// `args` without the program name.
int RunCrvAnchorQgis(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace crv::qgis
