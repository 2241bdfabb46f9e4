#pragma once
// The command line `crvanchor`: run a map book, show a document's anchoring, change an
// element's anchor record. Kept apart from main() so that tests can run it.
//
// Exit status: 0 done; 1 the component showed error reports (counted on the last line of
// standard error); 2 a bad document or argument (one line on standard error).

#include <iosfwd>
#include <string>
#include <vector>

namespace crv::standalone {

// `args` without the program name.
int RunCrvAnchor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace crv::standalone
