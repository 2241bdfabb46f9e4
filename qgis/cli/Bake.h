#pragma once
// `crvanchor-qgis bake` and `unbake`: each anchored item's place on every atlas page written
// into the project as data-defined positions, so that QGIS without the anchoring (another
// desktop, QGIS Server) prints the atlas as the plugin and the command do; and taken out again.

#include <iosfwd>
#include <string>
#include <vector>

namespace crv::qgis {

// `args` from the command's name ("bake" or "unbake") on. Returns the exit status; throws
// support::CommandError (status 2) for a bad command line or project.
int RunBake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace crv::qgis
