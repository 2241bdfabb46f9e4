#pragma once
// `crvanchor-qgis bake` and `unbake`: each anchored item's place on every atlas page written
// into the project as data-defined positions, so that QGIS without the anchoring (another
// desktop, QGIS Server) prints the atlas as the plugin and the command do; and taken out again.

#include "qgis/cli/Session.h"

#include <functional>
#include <iosfwd>

namespace crv::qgis {

// `a.command` is "bake" or "unbake". The project is opened with the book's checks; nothing is
// written after an error report (`reportsShown` counts them). Returns the exit status; throws
// UsageError (status 2) for a project it refuses.
int RunBake(CommandArgs a, std::ostream& out, std::ostream& err, const std::function<int()>& reportsShown);

}  // namespace crv::qgis
