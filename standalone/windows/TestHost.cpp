// CRVAnchorTestHost.dll: the standalone host as the platform's in-process server, so that the
// component built for Windows creates its host objects through real COM calls. Every class the
// host registers in its own class table is served here by the same class id, its objects
// handed out through their COM-callable wrappers. The host is made on first use from the
// layout snapshot that CRVANCHOR_TEST_LAYOUT names, and kept until the process ends.
#include "com/Registry.h"
#include "host/HostClasses.h"
#include "registration/CategoryClasses.h"
#include "standalone/host/Snapshot.h"
#include "windows/boundary/ClassObject.h"
#include "windows/boundary/Marshal.h"
#include "windows/platform/RegistryRoots.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

// windows.h spells the registry's methods as the platform's window-class functions.
#undef RegisterClass
#undef UnregisterClass

namespace crv::standalone {

namespace {

struct ServedClass {
    Guid clsid;
    const char* progid;
};

// The classes StandaloneHost registers, by the names scripts create them by.
constexpr ServedClass kClasses[] = {
    {clsid::HostApplication, "CRVAnchorTestHost.Application"},
    {clsid::PropertyBag, "CRVAnchorTestHost.PropertyBag"},
    {clsid::Envelope, "CRVAnchorTestHost.Envelope"},
    {clsid::Polygon, "CRVAnchorTestHost.Polygon"},
    {clsid::GeometryPoint, "CRVAnchorTestHost.GeometryPoint"},
    {clsid::ObjectCopier, "CRVAnchorTestHost.ObjectCopier"},
    {clsid::HostUID, "CRVAnchorTestHost.UID"},
    {clsid::CategoryRegistrar, "CRVAnchorTestHost.CategoryRegistrar"},
    {clsid::MapSeriesFrame, "CRVAnchorTestHost.MapSeriesFrame"},
    {clsid::ActiveLayoutInfo, "CRVAnchorTestHost.ActiveLayoutInfo"},
    {clsid::SeriesLayoutInfo, "CRVAnchorTestHost.SeriesLayoutInfo"},
    {clsid::SectionTemplateInfo, "CRVAnchorTestHost.SectionTemplateInfo"},
};

std::atomic<bool> g_host_made{false};

// Never destroyed: the objects handed out hold its state, and its class registrations live in
// this library's class table, which static destruction may already have taken down.
StandaloneHost& Host() {
    static std::mutex mutex;
    static StandaloneHost* host = nullptr;
    const std::lock_guard lock(mutex);
    if (host == nullptr) {
        const char* layout = std::getenv("CRVANCHOR_TEST_LAYOUT");
        if (layout == nullptr || *layout == '\0') {
            Raise(static_cast<int32_t>(HRESULT_FROM_WIN32(ERROR_ENVVAR_NOT_FOUND)), "CRVAnchorTestHost",
                  "No layout to host: CRVANCHOR_TEST_LAYOUT names no snapshot (crvanchor-snapshot writes one).");
        }
        host = HostFromSnapshot(layout).release();
        g_host_made = true;
    }
    return *host;
}

}  // namespace

}  // namespace crv::standalone

using crv::standalone::kClasses;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const crv::Guid wanted = crv::win::FromGUID(clsid);
    for (const auto& c : kClasses) {
        if (c.clsid != wanted) continue;
        // Each object is made by the host's own class table, where the host registered it.
        return crv::win::GetClassObject(
            c.clsid,
            [id = c.clsid] {
                crv::standalone::Host();
                return crv::CreateObject<crv::Unknown>(id);
            },
            iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Once the host is made its layout lives in this library: it stays loaded.
STDAPI DllCanUnloadNow() {
    return !crv::standalone::g_host_made && crv::win::LiveWrappers() == 0 && !crv::win::ClassObjectsInUse() ? S_OK
                                                                                                            : S_FALSE;
}

// The classes, and the host's type library (this library's resource 1) with the platform's
// entries for its interfaces: a client in another apartment reaches the host's objects through
// them, whatever component is installed.
STDAPI DllRegisterServer() {
    return crv::win::Guard(crv::clsid::HostApplication, [] {
        const std::string library = crv::LibraryFilePath();
        crv::Registry registry(crv::win::kMachineClasses);
        for (const auto& c : kClasses) registry.RegisterClass({c.clsid, c.progid, library, "Apartment", {}, c.progid});
        registry.RegisterTypeLib({crv::hostlib::kLibId, crv::hostlib::kName, crv::hostlib::kMajor, crv::hostlib::kMinor,
                                  library});
    });
}

STDAPI DllUnregisterServer() {
    return crv::win::Guard(crv::clsid::HostApplication, [] {
        crv::Registry registry(crv::win::kMachineClasses);
        for (const auto& c : kClasses) registry.UnregisterClass(c.clsid);
        registry.UnregisterTypeLib(crv::hostlib::kLibId);
    });
}
