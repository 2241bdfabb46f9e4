// The map-document loader on text that other people wrote: it loads the document or says,
// in one line, what is wrong with it; it never crashes, and a refused document changes
// nothing. What loads must write out and load back the same.
#include "errors/ErrorHandling.h"
#include "standalone/document/Document.h"
#include "standalone/host/StandaloneHost.h"

#include <cstdint>
#include <filesystem>
#include <string>

using namespace crv;
using namespace crv::standalone;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Relative dataset and picture paths resolve inside a folder that holds nothing.
    const std::filesystem::path where = "/nonexistent-crv-fuzz/book.json";
    StandaloneHost host;
    Document doc(host);
    try {
        doc.LoadText(text, where);
    } catch (const DocumentError& e) {
        const std::string message = e.what();
        if (message.empty() || message.find('\n') != std::string::npos) __builtin_trap();  // one line
        // The document's text reaches the message quoted and cut: no terminal controls, no megabytes.
        if (message.find('\x1b') != std::string::npos || message.size() > 2000) __builtin_trap();
        if (!host.State().elements.empty()) __builtin_trap();  // nothing half loaded
        return 0;
    }
    const size_t elements = host.State().elements.size();
    const std::string written = doc.Text(where.parent_path());
    StandaloneHost again_host;
    Document again(again_host);
    try {
        again.LoadText(written, where);
    } catch (const DocumentError&) {
        __builtin_trap();  // what was written must load
    }
    if (again_host.State().elements.size() != elements || again.Text(where.parent_path()) != written) __builtin_trap();
    return 0;
}
