// crvinstall [/u] LIBRARY: registers the library and enters its property page into the host's
// category of element property pages; with /u takes the page out and unregisters.
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"
#include "support/Edge.h"
#include "standalone/tools/Registration.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    // Whatever escapes is one line and status 2, never an abort.
    return crv::support::RunAtEdge("crvinstall", std::cerr, [&]() -> int {
        const bool uninstall = argc == 3 && (std::strcmp(argv[1], "/u") == 0 || std::strcmp(argv[1], "-u") == 0);
        if (argc != 2 && !uninstall) {
            std::fprintf(stderr, "usage: crvinstall [/u] LIBRARY\n");
            return 2;
        }
        crv::StderrErrorSink sink;
        crv::ScopedErrorSink scope(sink);
        crv::standalone::StandaloneHost host;
        const auto run = crv::tools::RunInstall(argv[argc - 1], uninstall);
        std::fputs(run.out.c_str(), stdout);
        std::fputs(run.err.c_str(), stderr);
        return run.status;
    });
}
