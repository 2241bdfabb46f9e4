// crvanchor: map books from the command line. See standalone/cli/Cli.h.

#include "standalone/cli/Cli.h"
#include "support/Edge.h"

#include <iostream>

int main(int argc, char** argv) {
    return crv::support::RunAtEdge("crvanchor", std::cerr, [&] {
        std::vector<std::string> args(argv + 1, argv + argc);
        return crv::standalone::RunCrvAnchor(args, std::cout, std::cerr);
    });
}
