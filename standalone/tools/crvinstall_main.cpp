// crvinstall [/u] LIBRARY: registers the library and enters its property page into the host's
// category of element property pages; with /u takes the page out and unregisters.
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"
#include "standalone/tools/Registration.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const bool uninstall = argc == 3 && (std::strcmp(argv[1], "/u") == 0 || std::strcmp(argv[1], "-u") == 0);
    if (argc != 2 && !uninstall) {
        std::fprintf(stderr, "usage: crvinstall [/u] LIBRARY\n");
        return 2;
    }
    const std::string library = argv[argc - 1];
    crv::StderrErrorSink sink;
    crv::ScopedErrorSink scope(sink);
    crv::standalone::StandaloneHost host;
    auto say = [](const crv::tools::Outcome& o) {
        std::fprintf(o.code == 0 ? stdout : stderr, "%s\n", o.message.c_str());
        return o.code == 0;
    };
    if (uninstall) {
        const bool removed = say(crv::tools::InstallPage(false));
        const bool unregistered = say(crv::tools::RegisterServer(library, true));
        return removed && unregistered ? 0 : 1;
    }
    if (!say(crv::tools::RegisterServer(library, false))) return 1;
    return say(crv::tools::InstallPage(true)) ? 0 : 1;
}
