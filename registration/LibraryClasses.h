#pragma once
// The classes the library serves, and the registry entries that name them: one list for every
// platform's entry points.

#include "com/Registry.h"
#include "com/Unknown.h"

#include <functional>
#include <string>
#include <vector>

namespace crv {

struct LibraryClass {
    Guid clsid;
    const char* progid;
    std::function<ComPtr<Unknown>()> maker;
};

const std::vector<LibraryClass>& LibraryClasses();

// A new property page, for the toolkit the library was built against.
ComPtr<Unknown> NewAnchorPropertyPage();

// Enters every class and the type library; removes them.
void RegisterLibrary(Registry& registry, const std::string& library, const std::string& typeLibrary);
void UnregisterLibrary(Registry& registry);

}  // namespace crv
