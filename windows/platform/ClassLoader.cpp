// Class objects from the platform: a class that no code of this module registered is made by the
// maker the COM boundary installed (windows/platform/ClassLoader.h).
#include "windows/platform/ClassLoader.h"

#include "com/ClassTable.h"
#include "com/FaultHook.h"
#include "com/Registry.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>

namespace crv {

namespace win {

namespace {

std::atomic<ForeignClassMaker> g_maker{nullptr};

}  // namespace

void InstallForeignClassMaker(ForeignClassMaker maker) { g_maker = maker; }

}  // namespace win

namespace {

class SystemClassFactory final : public ComObject<ClassFactory> {
public:
    explicit SystemClassFactory(const Guid& clsid) : clsid_(clsid) {}
    void* CreateInstance(const Guid& iid) override {
        FaultPoint("ClassTable.LoadLibrary");
        const win::ForeignClassMaker make = win::g_maker;
        if (make == nullptr) {
            Raise(hresult::kClassNotAvailable, "CRVAnchor",
                  "The class " + clsid_.ToString() +
                      " is not registered in this module, which cannot create a class of another: it was built "
                      "without the COM boundary, which makes the proxies of such objects.");
        }
        return make(clsid_, iid);
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
