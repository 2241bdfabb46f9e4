// Class objects from the platform: a class that no code of this module registered is created
// by the platform's object runtime, from whatever server the system registry names, and used
// through a proxy.
#include "com/ClassTable.h"

#include "com/FaultHook.h"
#include "com/Registry.h"
#include "windows/boundary/Errors.h"
#include "windows/boundary/Identity.h"
#include "windows/platform/PlatformClasses.h"
#include "windows/platform/Text.h"

namespace crv {

namespace {

class SystemClassFactory final : public ComObject<ClassFactory> {
public:
    explicit SystemClassFactory(const Guid& clsid) : clsid_(clsid) {}
    void* CreateInstance(const Guid& iid) override {
        FaultPoint("ClassTable.LoadLibrary");
        IUnknown* created = nullptr;
        // No error object of an earlier call may pass for this one's.
        ::SetErrorInfo(0, nullptr);
        const HRESULT hr = CoCreateInstance(win::ToGUID(clsid_), nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                            IID_IUnknown, reinterpret_cast<void**>(&created));
        if (hr == REGDB_E_CLASSNOTREG) {
            if (const ComPtr<Unknown> own = win::NewPlatformObject(clsid_)) {
                void* p = own->QueryInterface(iid);
                if (p == nullptr) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
                return p;
            }
            Raise(hr, "CRVAnchor", "Class not registered: " + clsid_.ToString());
        }
        try {
            win::Check(hr, "CRVAnchor");
        } catch (const ComError& e) {
            // What the class's server said, when it said anything.
            Raise(e.Number(), e.Source(), "The class " + clsid_.ToString() + " cannot be created: " + e.Description());
        }
        const ComPtr<Unknown> object = win::TakeCom<Unknown>(created);
        void* p = object->QueryInterface(iid);
        if (p == nullptr) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
        return p;
    }

private:
    Guid clsid_;
};

}  // namespace

std::optional<Guid> ClassTable::ProgIdFromRegistry(const std::string& progid) {
    const auto registry = Registry::OpenIfExists();
    return registry ? registry->ClsidFromProgId(progid) : std::nullopt;
}

ComPtr<ClassFactory> ClassTable::FactoryFromRegistry(const Guid& clsid) {
    return MakeCom<ClassFactory, SystemClassFactory>(clsid);
}

int ClassTable::FreeUnusedLibraries() {
    CoFreeUnusedLibraries();
    return 0;
}

// The platform loads and counts the libraries itself.
int ClassTable::LoadedLibraryCount() const { return 0; }

}  // namespace crv
