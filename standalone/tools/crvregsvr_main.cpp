// crvregsvr [/u] LIBRARY: registers (or unregisters) a self-registering library's classes.
#include "standalone/support/Edge.h"
#include "standalone/tools/Registration.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    // Whatever escapes is one line and status 2, never an abort.
    return crv::standalone::RunAtEdge("crvregsvr", std::cerr, [&]() -> int {
        bool unregister = false;
        std::string library;
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "/u") == 0 || std::strcmp(argv[i], "-u") == 0) {
                unregister = true;
            } else if (library.empty()) {
                library = argv[i];
            } else {
                library.clear();
                break;
            }
        }
        if (library.empty()) {
            std::fprintf(stderr, "usage: crvregsvr [/u] LIBRARY\n");
            return 2;
        }
        const auto run = crv::tools::RunRegisterServer(library, unregister);
        std::fputs(run.out.c_str(), stdout);
        std::fputs(run.err.c_str(), stderr);
        return run.status;
    });
}
