// crvcall PROGID MEMBER [ARG...]: creates an object by its programmatic identifier and calls a
// member by name, as a script would; crvcall --category NAME lists a category's classes.
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"
#include "support/Edge.h"
#include "standalone/tools/Registration.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Whatever escapes is one line and status 2, never an abort.
    return crv::support::RunAtEdge("crvcall", std::cerr, [&]() -> int {
        crv::StderrErrorSink sink;
        crv::ScopedErrorSink scope(sink);
        crv::standalone::StandaloneHost host;
        if (argc == 3 && std::strcmp(argv[1], "--category") == 0) {
            try {
                for (const auto& line : crv::tools::CategoryMembers(argv[2])) std::printf("%s\n", line.c_str());
                return 0;
            } catch (const crv::ComError& e) {
                std::fprintf(stderr, "%s\n", e.Description().c_str());
                return 2;
            }
        }
        if (argc < 3) {
            std::fprintf(stderr, "usage: crvcall PROGID MEMBER [ARG...]\n       crvcall --category NAME\n");
            return 2;
        }
        const std::vector<std::string> args(argv + 3, argv + argc);
        const auto outcome = crv::tools::CallMember(argv[1], argv[2], args);
        if (outcome.code != 0) {
            std::fprintf(stderr, "%s\n", outcome.message.c_str());
            return 1;
        }
        if (!outcome.message.empty()) std::printf("%s\n", outcome.message.c_str());
        return sink.Count() == 0 ? 0 : 1;
    });
}
