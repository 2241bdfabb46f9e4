// The library's entry points as the platform calls them: class objects that hand out our
// classes through their COM-callable wrappers, self-registration for the machine or (through
// DllInstall) for one user, and the unload check.
#include "CRVAnchorTypeLib.h"
#include "LibraryPropertyPage.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "registration/CategoryClasses.h"
#include "registration/LibraryClasses.h"
#include "windows/boundary/Marshal.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

namespace crv {

namespace {

std::atomic<long> g_locks{0};

class ClassObject final : public IClassFactory {
public:
    explicit ClassObject(const LibraryClass& c) : class_(c) { LibraryObjectCreated(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return win::Guard(class_.clsid, [&] {
            IUnknown* object = win::Outgoing(class_.maker(), Unknown::IID);
            const HRESULT hr = object->QueryInterface(riid, out);
            object->Release();
            if (FAILED(hr)) Raise(hr, "CRVAnchor", "No such interface supported");
        });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
        } else {
            --g_locks;
        }
        return S_OK;
    }

private:
    ~ClassObject() { LibraryObjectDestroyed(); }
    const LibraryClass& class_;
    std::atomic<ULONG> refs_{0};
};

HRESULT Register(const std::string& root) {
    return win::Guard(typelib::kLibId, [&] {
        const std::string library = LibraryFilePath();
        // The type library is the library's own resource.
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

constexpr const char* kUserRoot = "HKEY_CURRENT_USER\\Software\\Classes";

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
        if (c.clsid != wanted) continue;
        auto* object = new crv::ClassObject(c);
        object->AddRef();
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return crv::LiveLibraryObjects() == 0 && crv::win::LiveWrappers() == 0 && crv::g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() { return crv::Register(crv::Registry::DefaultPath()); }

STDAPI DllUnregisterServer() { return crv::Unregister(crv::Registry::DefaultPath()); }

// regsvr32 /i:user registers for the current user only, /i:machine (or none) for the machine.
STDAPI DllInstall(BOOL install, LPCWSTR options) {
    const bool user = options != nullptr && _wcsicmp(options, L"user") == 0;
    const std::string root = user ? crv::kUserRoot : crv::Registry::DefaultPath();
    return install ? crv::Register(root) : crv::Unregister(root);
}
