// The library's entry points: class objects, self-registration, unloading, and its version
// record. They do the standard work of an in-process server and nothing of the component's own.

#include "CRVAnchorTypeLib.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "registration/CategoryClasses.h"
#include "registration/LibraryClasses.h"
#include "LibraryPropertyPage.h"
#include "registration/VersionRecord.h"

#include <QtGlobal>

#include <filesystem>
#include <functional>

namespace crv {

namespace {

// A class object of the library: creates the automated class.
class LibraryClassFactory final : public ComObject<ClassFactory> {
public:
    using Maker = std::function<ComPtr<Unknown>()>;
    explicit LibraryClassFactory(Maker maker) : maker_(std::move(maker)) { LibraryObjectCreated(); }
    ~LibraryClassFactory() override { LibraryObjectDestroyed(); }
    void* CreateInstance(const Guid& iid) override {
        ComPtr<Unknown> object = maker_();
        void* p = object->QueryInterface(iid);
        if (p == nullptr) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
        return p;
    }

private:
    Maker maker_;
};

std::string TypeLibraryPath() {
    const std::filesystem::path library = LibraryFilePath();
    return (library.parent_path() / (std::string(typelib::kName) + ".tlb")).string();
}

// The result code of an entry point; the error itself is kept for the caller to read.
int32_t ToResult(std::exception_ptr error) {
    const ComError e = CurrentErrorAsComError(error);
    SetErrorInfo(e);
    return e.Number() < 0 ? e.Number() : hresult::kFail;
}

// The load entry point: remembers nothing but that the library is loaded, as the platform's
// own load step would.
__attribute__((constructor)) void LibraryLoaded() {}

}  // namespace

// Refused, not aborted, in a program without a graphical user interface.
ComPtr<Unknown> NewAnchorPropertyPage() {
    AnchorPropertyPage::RequireWidgetApplication();
    return ComPtr<Unknown>(MakeCom<_AnchorPropertyPage, AutomatedAnchorPropertyPage<LibraryPropertyPage>>());
}

// The version record, found by readers in the file's own section without loading it; it says
// which Qt the page is built on, since a Qt 5 process must load only the Qt 5 build.
constexpr uint32_t kVersionFlags = kVersionSelfRegister | (QT_VERSION_MAJOR == 5 ? kVersionQt5 : 0);
extern "C" __attribute__((used, section(".crv_version"))) const VersionRecord CRVAnchorVersionRecord = {
    {'C', 'R', 'V', 'V', 'E', 'R', 'S', '\0'}, 1, 0, 0, 0, kVersionFlags, "CRVAnchor"};

}  // namespace crv

using crv::Guid;

extern "C" __attribute__((visibility("default"))) int32_t DllGetClassObject(const Guid* clsid, const Guid* iid,
                                                                            void** out) {
    if (clsid == nullptr || iid == nullptr || out == nullptr) return crv::hresult::kPointer;
    *out = nullptr;
    for (const auto& c : crv::LibraryClasses()) {
        if (c.clsid != *clsid) continue;
        auto factory = crv::MakeCom<crv::ClassFactory, crv::LibraryClassFactory>(c.maker);
        *out = factory->QueryInterface(*iid);
        return *out != nullptr ? 0 : crv::hresult::kNoInterface;
    }
    return crv::hresult::kClassNotAvailable;
}

extern "C" __attribute__((visibility("default"))) int32_t DllCanUnloadNow() {
    return crv::LiveLibraryObjects() == 0 ? 0 : 1;
}

extern "C" __attribute__((visibility("default"))) int32_t DllRegisterServer() {
    try {
        const std::string library = crv::LibraryFilePath();
        // A library copied without its type library would register a path that does not
        // exist; checked before the registry is even opened, so nothing changes.
        const std::string typeLibrary = crv::TypeLibraryPath();
        std::error_code ec;
        if (!std::filesystem::is_regular_file(typeLibrary, ec)) {
            crv::Raise(crv::hresult::kTypeLibraryLoad, "DllRegisterServer",
                       "the type library " + typeLibrary + " is missing beside " + library + "; copy " +
                           crv::typelib::kName + ".tlb there with the library.");
        }
        crv::Registry registry;
        crv::RegisterLibrary(registry, library, typeLibrary);
        return 0;
    } catch (...) {
        return crv::ToResult(std::current_exception());
    }
}

extern "C" __attribute__((visibility("default"))) int32_t DllUnregisterServer() {
    try {
        crv::Registry registry;
        crv::UnregisterLibrary(registry);
        return 0;
    } catch (...) {
        return crv::ToResult(std::current_exception());
    }
}
