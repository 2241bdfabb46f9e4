// crvanchor-snapshot DOC OUT.json: opens a map document as crvanchor does and writes what the
// standalone host then holds, series pages included, for a host that cannot read the document
// itself (the Windows test host).
#include "standalone/document/Document.h"
#include "support/AtomicFile.h"
#include "support/Edge.h"

#include <iostream>

int main(int argc, char** argv) {
    return crv::support::RunAtEdge("crvanchor-snapshot", std::cerr, [&]() -> int {
        if (argc != 3) {
            std::cerr << "usage: crvanchor-snapshot DOC OUT.json\n";
            return 2;
        }
        crv::standalone::StandaloneHost host;
        crv::standalone::Document document(host);
        document.Load(argv[1]);
        // The snapshot must never replace what it was made from, as the book's outputs must not.
        crv::commands::BookFiles files;
        files.inputs = document.InputFiles();
        files.outputs.push_back({"output", argv[2]});
        crv::commands::CheckOutputs(files);
        crv::support::WriteFileAtomically(argv[2], document.Snapshot(), "Snapshot");
        return 0;
    });
}
