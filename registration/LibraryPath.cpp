// Where the library was loaded from, as the dynamic loader says.
#include "registration/CategoryClasses.h"

#include "errors/ErrorHandling.h"

#include <dlfcn.h>

#include <filesystem>

namespace crv {

std::string LibraryFilePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&LibraryFilePath), &info) == 0 || info.dli_fname == nullptr) {
        Raise(hresult::kFail, "CategoryInstall.Install", "The library cannot tell where it was loaded from.");
    }
    const std::filesystem::path loaded = std::filesystem::absolute(info.dli_fname);
    return (loaded.parent_path() / loaded.filename()).string();
}

}  // namespace crv
