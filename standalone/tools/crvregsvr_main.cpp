// crvregsvr [/u] LIBRARY: registers (or unregisters) a self-registering library's classes.
#include "support/Edge.h"
#include "standalone/tools/Registration.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

int main(int argc, char** argv) {
    // Whatever escapes is one line and status 2, never an abort.
    return crv::support::RunAtEdge("crvregsvr", std::cerr, [&]() -> int {
        bool unregister = false;
        std::optional<std::string> library;  // an empty one is refused as such, not as a usage error
        bool extra = false;
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "/u") == 0 || std::strcmp(argv[i], "-u") == 0) {
                unregister = true;
            } else if (!library) {
                library = argv[i];
            } else {
                extra = true;
            }
        }
        if (!library || extra) {
            std::fprintf(stderr, "usage: crvregsvr [/u] LIBRARY\n");
            return 2;
        }
        const auto run = crv::tools::RunRegisterServer(*library, unregister);
        std::fputs(run.out.c_str(), stdout);
        std::fputs(run.err.c_str(), stderr);
        return run.status;
    });
}
