// Lists the classes the platform's component category manager has in a category: one line
// each, the class id and its programmatic identifier.
//   crvcategories {CATEGORY-GUID}
#include "com/Registry.h"
#include "errors/ComError.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2 || !crv::Guid::Parse(argv[1])) {
        std::fprintf(stderr, "usage: crvcategories {CATEGORY-GUID}\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    try {
        const crv::Registry registry(crv::Registry::DefaultPath());
        for (const crv::Guid& clsid : registry.ClassesInCategory(*crv::Guid::Parse(argv[1]))) {
            const auto entry = registry.FindClass(clsid);
            std::printf("%s %s\n", clsid.ToString().c_str(), entry ? entry->progid.c_str() : "");
        }
    } catch (const crv::ComError& e) {
        std::fprintf(stderr, "crvcategories: %s\n", e.Description().c_str());
        status = 1;
    }
    CoUninitialize();
    return status;
}
