// Where the library was loaded from, as the platform's loader says.
#include "registration/CategoryClasses.h"
#include "errors/ErrorHandling.h"
#include "windows/platform/Text.h"

#include <windows.h>

namespace crv {

std::string LibraryFilePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&LibraryFilePath), &module)) {
        Raise(hresult::kFail, "CategoryInstall.Install", "The library cannot tell where it was loaded from.");
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            Raise(hresult::kFail, "CategoryInstall.Install", "The library cannot tell where it was loaded from.");
        if (n < path.size()) {
            path.resize(n);
            return win::Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace crv
