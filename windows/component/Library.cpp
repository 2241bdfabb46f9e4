// The library's entry points as the platform calls them: class objects that hand out our
// classes through their COM-callable wrappers, self-registration for the machine or (through
// DllInstall) for one user, and the unload check.
#include "CRVAnchorTypeLib.h"
#include "LibraryPropertyPage.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "registration/CategoryClasses.h"
#include "registration/LibraryClasses.h"
#include "windows/boundary/ClassObject.h"
#include "windows/boundary/Marshal.h"
#include "windows/platform/RegistryRoots.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <cwchar>

namespace crv {

namespace {

HRESULT Register(const std::string& root) {
    return win::Guard(typelib::kLibId, [&] {
        const std::string library = LibraryFilePath();
        // The type library is the library's own resource: checked before anything is written,
        // so a library without one changes nothing.
        ITypeLib* own = nullptr;
        const HRESULT loaded = LoadTypeLibEx(win::Wide(library).c_str(), REGKIND_NONE, &own);
        if (FAILED(loaded)) {
            Raise(loaded, "DllRegisterServer", "The library " + library + " carries no type library it can read.");
        }
        own->Release();
        Registry registry(root);
        RegisterLibrary(registry, library, library);
    });
}

HRESULT Unregister(const std::string& root) {
    return win::Guard(typelib::kLibId, [&] {
        Registry registry(root);
        UnregisterLibrary(registry);
    });
}

}  // namespace

// The page over the platform's own controls (windows/page), its calls checked for their thread.
ComPtr<Unknown> NewAnchorPropertyPage() {
    return ComPtr<Unknown>(MakeCom<_AnchorPropertyPage, AutomatedAnchorPropertyPage<LibraryPropertyPage>>());
}

}  // namespace crv

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const crv::Guid wanted = crv::win::FromGUID(clsid);
    for (const auto& c : crv::LibraryClasses()) {
        if (c.clsid == wanted) return crv::win::GetClassObject(c.clsid, c.maker, iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return crv::LiveLibraryObjects() == 0 && crv::win::LiveWrappers() == 0 && !crv::win::ClassObjectsInUse() ? S_OK
                                                                                                             : S_FALSE;
}

STDAPI DllRegisterServer() { return crv::Register(crv::win::kMachineClasses); }

STDAPI DllUnregisterServer() { return crv::Unregister(crv::win::kMachineClasses); }

// regsvr32 /i:user registers for the current user only, /i:machine (or none) for the machine.
STDAPI DllInstall(BOOL install, LPCWSTR options) {
    const bool user = options != nullptr && _wcsicmp(options, L"user") == 0;
    const std::string root = user ? crv::win::kUserClasses : crv::win::kMachineClasses;
    return install ? crv::Register(root) : crv::Unregister(root);
}
