// Where the library was loaded from, as the platform's loader says.
#include "registration/CategoryClasses.h"
#include "errors/ErrorHandling.h"
#include "windows/platform/Module.h"
#include "windows/platform/Text.h"

namespace crv {

std::string LibraryFilePath() {
    const auto path = win::ModuleFileOf(reinterpret_cast<const void*>(&LibraryFilePath));
    if (!path) Raise(hresult::kFail, "CategoryInstall.Install", "The library cannot tell where it was loaded from.");
    return win::Narrow(*path);
}

}  // namespace crv
