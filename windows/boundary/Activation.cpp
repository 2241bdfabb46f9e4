// Classes of other modules, for this module's runtime: made by the platform's object runtime,
// from whatever server the system registry names, and taken in as a proxy; where the platform
// has no such class, the platform layer's own host classes (PlatformClasses).
#include "windows/boundary/Errors.h"
#include "windows/boundary/Identity.h"
#include "windows/platform/ClassLoader.h"
#include "windows/platform/PlatformClasses.h"

#include <windows.h>
#include <objbase.h>

namespace crv::win {

namespace {

void* CreateForeign(const Guid& clsid, const Guid& iid) {
    IUnknown* created = nullptr;
    // No error object of an earlier call may pass for this one's.
    ::SetErrorInfo(0, nullptr);
    const HRESULT hr = CoCreateInstance(ToGUID(clsid), nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        IID_IUnknown, reinterpret_cast<void**>(&created));
    ComPtr<Unknown> object;
    if (hr == REGDB_E_CLASSNOTREG) {
        object = NewPlatformObject(clsid);
        if (!object) Raise(hr, "CRVAnchor", "Class not registered: " + clsid.ToString());
    } else {
        try {
            Check(hr, "CRVAnchor");
        } catch (const ComError& e) {
            // What the class's server said, when it said anything.
            Raise(e.Number(), e.Source(), "The class " + clsid.ToString() + " cannot be created: " + e.Description());
        }
        object = TakeCom<Unknown>(created);
    }
    void* p = object->QueryInterface(iid);
    if (p == nullptr) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
    return p;
}

}  // namespace

}  // namespace crv::win

// Installed as the module starts. Nothing refers to this file, so every module that links the
// boundary is told to keep this symbol (windows/Windows.cmake).
extern "C" const bool crv_foreign_classes_installed =
    (crv::win::InstallForeignClassMaker(&crv::win::CreateForeign), true);
