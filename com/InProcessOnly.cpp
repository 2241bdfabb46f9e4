// A runtime that is in process only: a class is the one its process registered, or none. The
// portable core runs inside hosts that have no registry of ours and must never read one.
#include "com/ClassTable.h"

namespace crv {

std::optional<Guid> ClassTable::ProgIdFromRegistry(const std::string&) { return std::nullopt; }

ComPtr<ClassFactory> ClassTable::FactoryFromRegistry(const Guid& clsid) {
    Raise(hresult::kClassNotRegistered, "CRVAnchor", "Class not registered: " + clsid.ToString());
}

int ClassTable::FreeUnusedLibraries() { return 0; }

int ClassTable::LoadedLibraryCount() const { return 0; }

}  // namespace crv
