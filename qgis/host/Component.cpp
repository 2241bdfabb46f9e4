// Loading the Qt 5 build of the component into this process and registering its classes, so
// that the class table never turns to the registry, which names the Qt 6 build.
#include "qgis/host/QgisHost.h"

#include "CRVAnchorTypeLib.h"
#include "com/ClassTable.h"
#include "registration/VersionRecord.h"
#include "support/Activation.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <stdexcept>

#ifndef CRV_INSTALL_LIBDIR
#define CRV_INSTALL_LIBDIR "/usr/local/lib"
#endif

namespace crv::qgis {

namespace {

constexpr const char* kLibraryName = "libCRVAnchorQt5.so";

using GetClassObjectFn = int32_t (*)(const Guid*, const Guid*, void**);

std::mutex g_mutex;
bool g_loaded = false;

}  // namespace

ComPtr<_CRVAnchorManager> NewAnchorManager() {
    return CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
}

std::string DefaultComponentPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = self.parent_path() / kLibraryName;
        if (std::filesystem::is_regular_file(beside, ec)) return beside.string();
    }
    return (std::filesystem::path(CRV_INSTALL_LIBDIR) / kLibraryName).string();
}

void LoadComponent(const std::string& libraryPath) {
    std::lock_guard lock(g_mutex);
    if (g_loaded) return;
    // Read from the file before it is loaded: the Qt 6 build would bring Qt 6's libraries into
    // this Qt 5 process, and another library its own constructors.
    const auto refuse = [&libraryPath](const std::string& why) {
        return std::runtime_error("cannot load the anchoring component " + libraryPath + ": " + why);
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(libraryPath, ec))
        throw refuse(std::filesystem::exists(libraryPath, ec) ? "not a library file" : "no such file");
    const auto record = ReadVersionRecord(libraryPath);
    if (!record) throw refuse("it is not the anchoring component (it has no version record)");
    if ((record->flags & kVersionQt5) == 0)
        throw refuse("it is the build for Qt 6, and QGIS runs on Qt 5; install the plugin again");
    // Kept loaded for the life of the process: its classes stay registered.
    void* handle = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        throw refuse(why != nullptr ? why : "unknown reason");
    }
    auto get = reinterpret_cast<GetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
    if (get == nullptr) {
        throw std::runtime_error("the library " + libraryPath +
                                 " is not the anchoring component (no DllGetClassObject)");
    }
    const std::pair<Guid, const char*> classes[] = {
        {typelib::kClsidCRVAnchorManager, typelib::kProgIdCRVAnchorManager},
        {typelib::kClsidAnchorPropertyPage, typelib::kProgIdAnchorPropertyPage},
        {typelib::kClsidCategoryInstall, typelib::kProgIdCategoryInstall},
        {typelib::kClsidCategoryIDs, typelib::kProgIdCategoryIDs},
    };
    for (const auto& [clsid, progid] : classes) {
        void* out = nullptr;
        const int32_t hr = get(&clsid, &ClassFactory::IID, &out);
        if (hr != 0 || out == nullptr) {
            throw std::runtime_error("the anchoring component " + libraryPath + " does not provide the class " +
                                     progid);
        }
        ClassTable::Instance().RegisterClassObject(clsid, progid,
                                                   ComPtr<ClassFactory>::Attach(static_cast<ClassFactory*>(out)));
    }
    g_loaded = true;
}

}  // namespace crv::qgis
