// What the atomic file does the same way on every platform: its fault-injection points, and a
// whole text written at once.
#include "support/AtomicFile.h"

#include "errors/ComError.h"
#include "support/Errors.h"
#include "support/Faults.h"

#include <utility>

namespace crv::support {

void AtomicFile::FaultPoint(const char* step, const std::string& name, const char* failure) const {
    try {
        HostCall((what_ + step).c_str());
    } catch (const ComError& e) {
        throw FileWriteError(name + ": " + failure + ": " + e.Description());
    }
}

void WriteFileAtomically(const std::filesystem::path& destination, std::string_view text, std::string what) {
    AtomicFile file(destination, std::move(what));
    file.Write(text);
    file.Commit();
}

}  // namespace crv::support
